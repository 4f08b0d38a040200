#include "app/qt/updater_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QProgressBar>
#include <QScreen>
#include <QTreeWidget>

#include <filesystem>
#include <map>
#include <random>

#include "../app/archive_server.h"
#include "../app/program_folder_files.h"
#include "app/qt/application_termination.h"
#include "app/qt/auto_size_label.h"
#include "app/qt/glyph_button.h"
#include "app/qt/percentage_gauge.h"
#include "app/core/update_controller.h"
#include "archive/unzip.h"
#include "platform/message_pump.h"
#include "support/temp_folder.h"
#include "app/core/updater_window_layout.h"

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

// The text a label, group box or button shows.
QString Caption(QWidget& widget) {
    if (auto* label = qobject_cast<QLabel*>(&widget)) return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(&widget)) return group->title();
    if (auto* button = qobject_cast<QAbstractButton*>(&widget)) return button->text();
    return QString();
}

class UpdaterWindowTest : public ::testing::Test {
protected:
    ~UpdaterWindowTest() override { platform::SetMessagePump([] { QCoreApplication::processEvents(); }); }

    std::string Folder() const { return folder_.str() + "/"; }

    static void SavePicture(QWidget& window, const char* name) {
        const QString path = QStringLiteral(QUENDAL_BUILD_DIR "/") + QString::fromLatin1(name);
        EXPECT_TRUE(window.grab().save(path, "PNG")) << path.toStdString();
    }

    TempFolder folder_{"quendal-window"};
};

TEST_F(UpdaterWindowTest, LayoutAndInitialStateOfEveryControl) {
    TfrmUpdater window(kUnreachableUrl, Folder());
    SavePicture(window, "updater-initial.png");

    EXPECT_EQ(window.windowTitle(), QString::fromUtf8(updater_layout::kWindowCaption));
    EXPECT_EQ(window.size(), QSize(updater_layout::kClientWidth, updater_layout::kClientHeight));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed border";
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
    EXPECT_EQ(window.font().pixelSize(), updater_layout::kWindowFontPixels);
    EXPECT_EQ(window.font().families().value(0), QString::fromUtf8(updater_layout::kWindowFont));
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(48, 48)));
    EXPECT_EQ(window.backgroundRole(), QPalette::Button);

    // Every control against the table both windows are built from.
    const std::map<std::string, QWidget*> widgets = {
        {"window", &window},           {"Bevel1", window.Bevel1},       {"Panel2", window.Panel2},
        {"Image1", window.Image1},     {"pnlRight", window.pnlRight},   {"labDown", window.labDown},
        {"lblBytes", window.lblBytes}, {"lbNum", window.lbNum},         {"Bevel2", window.Bevel2},
        {"DownList", window.DownList}, {"pBar", window.pBar},           {"labUnzip", window.labUnzip},
        {"Gauge1", window.Gauge1},     {"Gauge2", window.Gauge2},       {"lbState", window.lbState},
        {"btnCancel", window.btnCancel}, {"btnRedown", window.btnRedown}, {"btnClose", window.btnClose}};
    for (const updater_layout::TControlLayout& c : updater_layout::kControls) {
        SCOPED_TRACE(c.name);
        QWidget* widget = widgets.at(c.name);
        EXPECT_EQ(widget->parentWidget(), widgets.at(c.parent));
        EXPECT_EQ(!widget->isHidden(), c.visible);
        EXPECT_EQ(widget->isEnabled(), c.enabled);
        const QString caption = c.caption ? QString::fromUtf8(c.caption) : QString();
        const TControlBounds placed =
            updater_layout::Placed(c, widget->fontMetrics().horizontalAdvance(caption));
        EXPECT_EQ(widget->geometry(), QRect(placed.left, placed.top, placed.width, placed.height));
        if (!c.caption) continue;
        EXPECT_EQ(Caption(*widget), caption);
        if (!c.font) continue;
        EXPECT_EQ(widget->font().families().value(0), QString::fromUtf8(c.font));
        EXPECT_EQ(widget->font().pixelSize(), c.fontPixels);
        if (c.width != updater_layout::TWidth::Fixed) {
            EXPECT_EQ(widget->palette().color(QPalette::WindowText),
                      c.blue ? kBlue : window.palette().color(QPalette::WindowText));
        }
    }

    EXPECT_TRUE(InBlue(*window.labDown));
    EXPECT_TRUE(window.lblBytes->alignment() & Qt::AlignRight);
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
    for (int column = 0; column < 5; ++column) {
        const updater_layout::TColumnLayout& expected = updater_layout::kQueueColumns[column];
        EXPECT_EQ(window.DownList->headerItem()->text(column), QString::fromUtf8(expected.caption)) << column;
        if (expected.width) {
            EXPECT_EQ(window.DownList->columnWidth(column), expected.width) << column;
        }
    }
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
    // The release manifest first, then the archive.
    ASSERT_EQ(window.DownList->topLevelItemCount(), 2);
    EXPECT_EQ(window.DownList->topLevelItem(0)->text(0), QString::fromLatin1(kUnreachableUrl) + ".manifest");
    EXPECT_EQ(window.DownList->topLevelItem(1)->text(0), QString::fromLatin1(kUnreachableUrl));
    EXPECT_EQ(window.Bevel2->geometry(), QRect(0, 257, 428, 2));
    // Until a run turns it off, the extractor would ask before overwriting.
    EXPECT_TRUE(window.UnZip1().ConfirmOverwrites());
    EXPECT_EQ(window.UnZip1().CpuType(), cptAuto);

    // Minimising and restoring are resizes too.
    for (auto change : {&QWidget::showMinimized, &QWidget::showNormal}) {
        window.Bevel2->setGeometry(12, 257, 352, 2);
        (window.*change)();
        EXPECT_EQ(window.Bevel2->geometry(), QRect(0, 257, 428, 2));
    }
    EXPECT_EQ(window.DownList->topLevelItemCount(), 2);
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

TEST_F(UpdaterWindowTest, DownloadAndExtractionShowTheirProgressInTheWindow) {
    const TempFolder work("quendal-window-update");
    program_folder::WriteFile(work / "update" / "data.bin", program_folder::Noise(1024 * 1024, 3));
    const std::string body = program_folder::ZipOf(work / "update", work / "Quendal.zip");
    TArchiveServer server(body);
    TfrmUpdater window(server.UpdateUrl(), Folder());

    // Halfway through each phase, the window is pictured as the user sees it.
    bool downloadPictured = false;
    bool extractionPictured = false;
    platform::SetMessagePump([&] {
        QCoreApplication::processEvents();
        if (!downloadPictured && window.pBar->value() >= window.pBar->maximum() / 2 && window.pBar->maximum() > 100) {
            downloadPictured = true;
            SavePicture(window, "updater-mid-download.png");
            EXPECT_TRUE(window.lblBytes->text().endsWith(QStringLiteral(" / 1,024 KBytes")));
            EXPECT_TRUE(window.lblBytes->isVisible());
        }
        if (!extractionPictured && window.Gauge2->PercentDone() >= 50) {
            extractionPictured = true;
            SavePicture(window, "updater-mid-extraction.png");
            EXPECT_TRUE(window.labUnzip->isVisible());
            EXPECT_FALSE(window.lblBytes->isVisible());
            EXPECT_EQ(window.labDown->text(), QStringLiteral("Quendal.zip을 다운받았습니다."));
            EXPECT_EQ(window.labUnzip->title(), QStringLiteral("Quendal.zip의 압축을 풀고 있는 중입니다...."));
            EXPECT_FALSE(window.btnCancel->isEnabled() || window.btnRedown->isEnabled() || window.btnClose->isEnabled());
        }
    });
    window.show();

    EXPECT_TRUE(downloadPictured);
    EXPECT_TRUE(extractionPictured);
    EXPECT_EQ(window.lblBytes->geometry().right() + 1, 398);
    EXPECT_EQ(window.pBar->value(), static_cast<int>(body.size()));
    EXPECT_EQ(window.Gauge1->PercentDone(), 100);
    EXPECT_EQ(window.Gauge2->PercentDone(), 100);
    EXPECT_EQ(window.labUnzip->title(), QStringLiteral("압축을 풀었습니다. 설치를 진행합니다."));
    EXPECT_EQ(program_folder::ReadAll(folder_ / "data.bin"), program_folder::ReadAll(work / "update" / "data.bin"));
    EXPECT_FALSE(fs::exists(folder_ / "Quendal.zip"));
}

}  // namespace
