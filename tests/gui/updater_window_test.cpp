#include "app/gui/updater_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QProgressBar>
#include <QScreen>
#include <QTreeWidget>

#include <filesystem>
#include <random>

#include "../app/archive_server.h"
#include "app/gui/application_termination.h"
#include "app/gui/auto_size_label.h"
#include "app/gui/glyph_button.h"
#include "app/gui/percentage_gauge.h"
#include "app/update_controller.h"
#include "platform/message_pump.h"
#include "../support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

const QColor kBlue(0, 0, 255);

// Nothing listens on port 1, so a run there ends at once without an item.
constexpr const char* kUnreachableUrl = "127.0.0.1:1/HTTP/Quendown/Quendal.zip";

// Whether the widget's text shows in blue (some glyph pixel is nearly pure blue).
bool InBlue(QWidget& widget) {
    const QImage image = widget.grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.blue() >= 200 && c.red() <= 60 && c.green() <= 60) return true;
        }
    return false;
}

class UpdaterWindowTest : public ::testing::Test {
protected:
    ~UpdaterWindowTest() override { platform::SetMessagePump([] { QCoreApplication::processEvents(); }); }

    std::string Folder() const { return folder_.str() + "/"; }

    static void SavePicture(QWidget& window, const char* name) {
        const QString path = QStringLiteral(QUENDAL_BUILD_DIR "/") + QString::fromLatin1(name);
        EXPECT_TRUE(window.grab().save(path, "PNG")) << path.toStdString();
    }

    const TempFolder folder_{"quendal-window"};
};

TEST_F(UpdaterWindowTest, LayoutAndInitialStateOfEveryControl) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    SavePicture(window, "updater-initial.png");

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quendal Design 설치하기"));
    EXPECT_EQ(window.size(), QSize(657, 339));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed border";
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
    EXPECT_EQ(window.font().pixelSize(), 13);
    EXPECT_EQ(window.font().families().value(0), QStringLiteral("맑은 고딕"));
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(48, 48)));
    EXPECT_EQ(window.backgroundRole(), QPalette::Button);

    struct Expected {
        const char* name;
        QWidget* widget;
        QWidget* parent;
        QRect bounds;
        bool visible;
        bool enabled;
    };
    const Expected controls[] = {
        {"Bevel1", window.Bevel1, &window, {227, 0, 2, 339}, true, true},
        {"Panel2", window.Panel2, &window, {0, 0, 227, 339}, true, true},
        {"Image1", window.Image1, window.Panel2, {0, 0, 227, 339}, true, true},
        {"pnlRight", window.pnlRight, &window, {229, 0, 428, 339}, true, true},
        {"labDown", window.labDown, window.pnlRight,
         {14, 19, window.labDown->fontMetrics().horizontalAdvance(window.labDown->text()), 17}, true, true},
        {"lblBytes", window.lblBytes, window.pnlRight, {398, 76, 0, 13}, true, true},
        {"lbNum", window.lbNum, window.pnlRight, {15, -1, 5, 17}, false, true},
        {"Bevel2", window.Bevel2, window.pnlRight, {12, 257, 352, 2}, true, true},
        {"DownList", window.DownList, window.pnlRight, {96, 136, 297, 97}, false, true},
        {"pBar", window.pBar, window.pnlRight, {13, 43, 385, 17}, true, true},
        {"labUnzip", window.labUnzip, window.pnlRight, {13, 96, 388, 122}, false, true},
        {"Gauge1", window.Gauge1, window.labUnzip, {18, 30, 352, 17}, true, true},
        {"Gauge2", window.Gauge2, window.labUnzip, {18, 81, 352, 17}, true, true},
        {"lbState", window.lbState, window.labUnzip,
         {18, 58, window.lbState->fontMetrics().horizontalAdvance(window.lbState->text()), 17}, true, true},
        {"btnCancel", window.btnCancel, window.pnlRight, {176, 275, 73, 45}, true, true},
        {"btnRedown", window.btnRedown, window.pnlRight, {256, 275, 73, 45}, true, false},
        {"btnClose", window.btnClose, window.pnlRight, {336, 275, 73, 45}, true, true},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.widget->parentWidget(), c.parent);
        EXPECT_EQ(c.widget->geometry(), c.bounds);
        EXPECT_EQ(!c.widget->isHidden(), c.visible);
        EXPECT_EQ(c.widget->isEnabled(), c.enabled);
    }

    EXPECT_EQ(window.labDown->text(), QStringLiteral("설치 파일을 다운받고 있습니다"));
    EXPECT_EQ(window.labDown->font().pixelSize(), 13);
    EXPECT_EQ(window.labDown->palette().color(QPalette::WindowText), kBlue);
    EXPECT_TRUE(InBlue(*window.labDown));
    EXPECT_TRUE(window.lblBytes->text().isEmpty());
    EXPECT_EQ(window.lblBytes->font().pixelSize(), 11);
    EXPECT_EQ(window.lblBytes->font().families().value(0), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(window.lblBytes->palette().color(QPalette::WindowText), kBlue);
    EXPECT_TRUE(window.lblBytes->alignment() & Qt::AlignRight);
    EXPECT_TRUE(window.lbNum->text().isEmpty());
    EXPECT_EQ(window.lbState->text(), QStringLiteral("전체 진행상태"));
    EXPECT_EQ(window.labUnzip->title(), QStringLiteral("업데이트할 파일을 풀고 있습니다"));
    EXPECT_EQ(window.Panel2->palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_TRUE(window.Image1->hasScaledContents());
    EXPECT_EQ(window.Image1->pixmap().size(), QSize(227, 328));

    EXPECT_EQ(window.pBar->minimum(), 0);
    EXPECT_EQ(window.pBar->maximum(), 100);
    EXPECT_EQ(window.pBar->value(), 0);
    for (TGauge* gauge : {window.Gauge1, window.Gauge2}) {
        EXPECT_EQ(gauge->Progress(), 0);
        EXPECT_EQ(gauge->ForeColor(), kBlue);
    }

    ASSERT_EQ(window.DownList->columnCount(), 5);
    const QStringList headers = {QStringLiteral("다운받을 URL"), QStringLiteral("파일크기"), QStringLiteral("MINE 타입"),
                                 QStringLiteral("다운로드 완료"), QString()};
    for (int column = 0; column < 5; ++column)
        EXPECT_EQ(window.DownList->headerItem()->text(column), headers[column]) << column;
    EXPECT_EQ(window.DownList->columnWidth(1), 80);
    EXPECT_EQ(window.DownList->columnWidth(2), 70);
    EXPECT_EQ(window.DownList->columnWidth(3), 90);
    EXPECT_EQ(window.DownList->columnWidth(4), 20);
    EXPECT_EQ(window.DownList->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(window.DownList->topLevelItemCount(), 0);

    struct Button {
        TGlyphButton* button;
        QString caption;
        QSize glyph;
    };
    for (const Button& b : {Button{window.btnCancel, QStringLiteral("취소"), {16, 17}},
                            Button{window.btnRedown, QStringLiteral("재시작"), {16, 16}},
                            Button{window.btnClose, QStringLiteral("종료"), {16, 16}}}) {
        EXPECT_EQ(b.button->text(), b.caption);
        EXPECT_EQ(b.button->Glyph().size(), b.glyph);
    }
    // The 24-bit glyphs keep their corner colour out of the picture.
    EXPECT_FALSE(window.btnCancel->Glyph().mask().isNull());

    // Tab order: the buttons follow the list, in order.
    std::vector<QWidget*> chain;
    for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) chain.push_back(w);
    const auto position = [&](QWidget* w) { return std::find(chain.begin(), chain.end(), w) - chain.begin(); };
    EXPECT_LT(position(window.DownList), position(window.btnCancel));
    EXPECT_LT(position(window.btnCancel), position(window.btnRedown));
    EXPECT_LT(position(window.btnRedown), position(window.btnClose));
}

TEST_F(UpdaterWindowTest, BytesLabelGrowsToTheLeft) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    TUpdaterView& view = window;
    int previousLeft = 398;
    for (const char* text : {"0 / 1 KBytes", "10 / 1,024 KBytes", "1,024 / 1,024 KBytes"}) {
        view.SetCaption(TUpdaterControl::lblBytes, text);
        const QRect bounds = window.lblBytes->geometry();
        EXPECT_EQ(bounds.x() + bounds.width(), 398) << text;
        EXPECT_LT(bounds.x(), previousLeft) << text;
        EXPECT_EQ(bounds.width(), window.lblBytes->fontMetrics().horizontalAdvance(QString::fromUtf8(text)));
        EXPECT_EQ(bounds.top(), 76);
        EXPECT_TRUE(InBlue(*window.lblBytes)) << text;
        previousLeft = bounds.x();
    }
}

TEST_F(UpdaterWindowTest, ShowingStartsTheRunAndEveryResizeLaysOutTheSeparator) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    EXPECT_FALSE(window.Controller().Started());

    window.show();

    EXPECT_TRUE(window.Controller().Started());
    EXPECT_EQ(window.DownList->topLevelItemCount(), 1);
    EXPECT_EQ(window.DownList->topLevelItem(0)->text(0), QString::fromLatin1(kUnreachableUrl));
    EXPECT_EQ(window.Bevel2->geometry(), QRect(0, 257, 428, 2));

    // Minimising and restoring are resizes too.
    for (auto change : {&QWidget::showMinimized, &QWidget::showNormal}) {
        window.Bevel2->setGeometry(12, 257, 352, 2);
        (window.*change)();
        EXPECT_EQ(window.Bevel2->geometry(), QRect(0, 257, 428, 2));
    }
    EXPECT_EQ(window.DownList->topLevelItemCount(), 1);
}

TEST_F(UpdaterWindowTest, ClosingWithAllButtonsDisabledStillRunsClose) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    window.show();
    for (QWidget* button : {static_cast<QWidget*>(window.btnCancel), static_cast<QWidget*>(window.btnRedown),
                            static_cast<QWidget*>(window.btnClose)})
        button->setEnabled(false);
    ASSERT_FALSE(ApplicationTerminationRequested());

    EXPECT_TRUE(window.close());

    EXPECT_TRUE(window.Controller().Cancelled());
    EXPECT_TRUE(ApplicationTerminationRequested());
}

TEST_F(UpdaterWindowTest, DownloadShowsProgressInTheWindow) {
    std::mt19937 random(3);
    std::string body(1024 * 1024, '\0');
    for (char& c : body) c = static_cast<char>(random());
    TArchiveServer server(body);
    TfrmUpdater window(server.UpdateUrl(), Folder());

    // Halfway through, the window is pictured as the user sees it.
    bool pictured = false;
    platform::SetMessagePump([&] {
        QCoreApplication::processEvents();
        if (!pictured && window.pBar->value() >= window.pBar->maximum() / 2 && window.pBar->maximum() > 100) {
            pictured = true;
            SavePicture(window, "updater-mid-download.png");
            EXPECT_TRUE(window.lblBytes->text().endsWith(QStringLiteral(" / 1,024 KBytes")));
            EXPECT_TRUE(window.lblBytes->isVisible());
        }
    });
    window.show();

    EXPECT_TRUE(pictured);
    EXPECT_EQ(window.lblBytes->text(), QStringLiteral("1,024 / 1,024 KBytes"));
    EXPECT_EQ(window.lblBytes->geometry().right() + 1, 398);
    EXPECT_EQ(window.pBar->value(), 1024 * 1024);
    EXPECT_EQ(QFileInfo(QString::fromStdString(Folder() + "Quendal.zip")).size(), 1024 * 1024);
}

}  // namespace
