#pragma once
// A list of same-sized pictures, addressed by index, that components and controls share.

#include <QIcon>
#include <QList>
#include <QObject>

class TImageList : public QObject {
public:
    explicit TImageList(QObject* owner = nullptr) : QObject(owner) {}

    int Count() const { return static_cast<int>(images_.size()); }
    // The picture at `index`; an empty icon for an index outside the list.
    QIcon Icon(int index) const {
        return index >= 0 && index < Count() ? images_.at(index) : QIcon();
    }
    void Add(const QIcon& image) { images_.append(image); }
    void Clear() { images_.clear(); }

private:
    QList<QIcon> images_;
};
