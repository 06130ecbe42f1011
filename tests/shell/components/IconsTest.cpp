// The program's pictures load from the resources and can be seen on light and dark panels.

#include "shell/components/Icons.h"

#include "shell/components/ImageList.h"

#include <QImage>
#include <gtest/gtest.h>
#include <set>

namespace {

struct TInk {
    int Opaque = 0;
    int Dark = 0;  // stands out on a light panel
    int Light = 0; // stands out on a dark panel
};

TInk InkOf(const QIcon& icon, int size) {
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    TInk ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 128) {
                continue;
            }
            ++ink.Opaque;
            ink.Dark += c.lightnessF() < 0.35 ? 1 : 0;
            ink.Light += c.lightnessF() > 0.55 ? 1 : 0;
        }
    }
    return ink;
}

std::vector<std::pair<std::string, QIcon>> AllIcons() {
    std::vector<std::pair<std::string, QIcon>> icons = {{"Tray", Icons::Tray()},
                                                        {"About", Icons::About()},
                                                        {"InviteWindow", Icons::InviteWindow()},
                                                        {"InvitePicture", Icons::InvitePicture()}};
    for (int i = 0; i < Icons::kIL16Count; ++i) {
        icons.emplace_back("IL16 " + std::to_string(i), Icons::IL16(i));
    }
    return icons;
}

TEST(IconsTest, EveryPictureIsDrawnAndVisibleOnLightAndDarkPanels) {
    for (const auto& [name, icon] : AllIcons()) {
        for (const int size : {16, 48}) {
            SCOPED_TRACE(name + " at " + std::to_string(size));
            ASSERT_FALSE(icon.isNull());
            const TInk ink = InkOf(icon, size);
            const int area = size * size;
            EXPECT_GT(ink.Opaque, area / 4);
            EXPECT_GT(ink.Dark, area / 50);
            EXPECT_GT(ink.Light, area / 50);
        }
    }
}

TEST(IconsTest, ImageListHoldsEightDifferentPictures) {
    TImageList list;
    Icons::FillIL16(list);
    ASSERT_EQ(list.Count(), Icons::kIL16Count);
    std::set<QByteArray> distinct;
    for (int i = 0; i < list.Count(); ++i) {
        const QImage image = list.Icon(i).pixmap(16, 16).toImage();
        distinct.insert(
            QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
    }
    EXPECT_EQ(distinct.size(), 8u);
    EXPECT_TRUE(Icons::IL16(-1).isNull());
    EXPECT_TRUE(Icons::IL16(Icons::kIL16Count).isNull());
    EXPECT_TRUE(list.Icon(8).isNull());
}

} // namespace
