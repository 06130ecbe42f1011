#pragma once
// The About page (TabSheet4): the product's name, version and release date, the home page and
// the maker's address as links, and the buttons to check for updates and to leave the page.
// What the links and buttons do is the window's business; the page only says which was used.
//
// Its controls keep their designed names (Lbl_version, Lbl_web, Button1, ...); tests find them
// by object name.

#include <QString>
#include <QWidget>

class QLabel;
class TLinkLabel;
struct TProduct;

class TAboutSheet : public QWidget {
    Q_OBJECT

public:
    explicit TAboutSheet(QWidget* parent = nullptr);

    void Show(const TProduct& product, const QString& homePage, const QString& contactAddress);

signals:
    void homePageClicked();     // Lbl_web
    void contactClicked();      // Lbl_mail
    void checkUpdatesClicked(); // Button2
    void okClicked();           // Button1, or Escape anywhere on the page

private:
    QWidget* CreateInfoPanel();

    QLabel* Lbl_name = nullptr;
    QLabel* Lbl_version = nullptr;
    QLabel* Lbl_release = nullptr;
    TLinkLabel* Lbl_web = nullptr;
    TLinkLabel* Lbl_mail = nullptr;
};
