// End to end on a real X server: an image view shows a picture in a window, and a
// screenshot taken by ImageMagick's `import` holds the view's pixels where the window is.
#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "LuxView.h"
#include "screen_shot.h"

using screen_test::Pump;
using screen_test::Screenshot;
using screen_test::Shot;

TEST(LuxViewScreen, WindowShowsTheCentredPicture) {
    int argc = 1;
    char name[] = "luxview_screen_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    QWidget host;
    host.setWindowFlags(Qt::FramelessWindowHint);
    host.setGeometry(40, 30, 320, 240);
    TLuxView view(nullptr);
    view.SetBorderStyle(bsNone);
    view.SetParentWindow(&host);
    view.SetBounds(0, 0, 320, 240);
    view.SetBackground(clBlue);
    view.SetCenter(true);
    // 100 x 60: left half red, right half lime; centred it lies at (110, 90).
    TBitmap* b = view.GetBitmap();
    b->SetPixelFormat(pf24bit);
    b->SetSize(100, 60);
    for (int y = 0; y < 60; ++y) {
        uint8_t* row = b->ScanLine(y);
        for (int x = 0; x < 100; ++x) {
            row[3 * x] = 0;
            row[3 * x + 1] = x < 50 ? 0 : 255;
            row[3 * x + 2] = x < 50 ? 255 : 0;
        }
    }
    view.Update();
    host.show();
    Pump(700);

    const std::string path = testing::TempDir() + "luxview_screen.ppm";
    const Shot s = Screenshot(path);
    std::remove(path.c_str());
    ASSERT_TRUE(s.ok()) << "import gave no screenshot";
    const QPoint o = host.mapToGlobal(QPoint(0, 0));
    auto at = [&](int x, int y) { return s.At(o.x() + x, o.y() + y); };
    EXPECT_EQ(at(5, 5), clBlue);            // background
    EXPECT_EQ(at(315, 235), clBlue);
    EXPECT_EQ(at(110, 90), clRed);          // picture's top-left corner
    EXPECT_EQ(at(159, 149), clRed);
    EXPECT_EQ(at(160, 90), clLime);
    EXPECT_EQ(at(209, 149), clLime);
    EXPECT_EQ(at(210, 90), clBlue);         // just right of the picture
    EXPECT_EQ(at(110, 150), clBlue);        // just below

    // Zooming repaints through the paint cycle: at 200 % the picture fills 200 x 120.
    view.SetZoom(200);
    Pump(500);
    const Shot z = Screenshot(path);
    std::remove(path.c_str());
    ASSERT_TRUE(z.ok());
    auto zat = [&](int x, int y) { return z.At(o.x() + x, o.y() + y); };
    EXPECT_EQ(zat(60, 60), clRed);
    EXPECT_EQ(zat(259, 179), clLime);
    EXPECT_EQ(zat(59, 60), clBlue);
    EXPECT_EQ(zat(260, 179), clBlue);
}
