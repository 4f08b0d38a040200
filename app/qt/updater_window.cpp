#include "app/qt/updater_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QTreeWidget>
#include <QWindowStateChangeEvent>

#include "app/qt/application_termination.h"
#include "app/qt/auto_size_label.h"
#include "app/qt/glyph_button.h"
#include "app/qt/percentage_gauge.h"
#include "app/core/update_controller.h"
#include "app/core/updater_window_layout.h"
#include "archive/unzip.h"
#include "download/download_component.h"

// Resources of a static library are registered by hand, outside any namespace.
static void RegisterImages() { Q_INIT_RESOURCE(images); }

namespace {

const QColor kBlue(0, 0, 255);

// Where the Korean face is missing, an installed Korean face stands in.
QFont Font(const char* family, int pixelSize) {
    QStringList families{QString::fromUtf8(family)};
    for (const char* standIn : updater_layout::kKoreanStandIns) families.append(QString::fromUtf8(standIn));
    QFont font;
    font.setFamilies(families);
    font.setPixelSize(pixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

void SetTextColor(QWidget* widget, const QColor& color) {
    // On the button-face background the text role would otherwise be ButtonText.
    widget->setForegroundRole(QPalette::WindowText);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

// A control placed, shown and enabled as the layout has it at start.
template <typename Widget>
Widget* Laid(Widget* widget, const updater_layout::TControlLayout& layout) {
    widget->setGeometry(layout.bounds.left, layout.bounds.top, layout.bounds.width, layout.bounds.height);
    if (!layout.visible) widget->hide();
    if (!layout.enabled) widget->setEnabled(false);
    return widget;
}

QFrame* Bevel(QFrame::Shape shape, QWidget* parent) {
    auto* bevel = new QFrame(parent);
    bevel->setFrameShape(shape);
    bevel->setFrameShadow(QFrame::Sunken);
    return bevel;
}

// A label whose width follows its caption.
TAutoSizeLabel* Label(const updater_layout::TControlLayout& layout, QWidget* parent) {
    const bool rightEdge = layout.width == updater_layout::TWidth::FitsTextRightEdge;
    auto* label = new TAutoSizeLabel(QString::fromUtf8(layout.caption), rightEdge ? Qt::AlignRight : Qt::AlignLeft,
                                     parent);
    label->setFont(Font(layout.font, layout.fontPixels));
    if (layout.blue) SetTextColor(label, kBlue);
    label->Place(layout.bounds.left, layout.bounds.top, layout.bounds.height);
    if (!layout.visible) label->hide();
    return label;
}

// A gauge with the sunken edge its container draws just outside it.
TGauge* Gauge(const updater_layout::TControlLayout& layout, QWidget* parent) {
    auto* edge = new QFrame(parent);
    edge->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    edge->setLineWidth(1);
    auto* gauge = Laid(new TGauge(parent), layout);
    edge->setGeometry(gauge->geometry().adjusted(-1, -1, 1, 1));
    gauge->SetForeColor(kBlue);
    return gauge;
}

TGlyphButton* Button(const updater_layout::TControlLayout& layout, const QString& glyph, QWidget* parent) {
    return Laid(new TGlyphButton(QString::fromUtf8(layout.caption), glyph, parent), layout);
}

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TfrmUpdater::TfrmUpdater(const std::string& updateUrl, const std::string& programFolder,
                         const std::string& publicKeyPem, TRetryPolicy retryPolicy)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      download_(std::make_unique<TWinHTTPDownload>()),
      unzip_(std::make_unique<TUnZip>()),
      // Asked for twice per downloaded chunk: read once.
      thousandsSeparator_(QLocale().groupSeparator().toStdString()) {
    RegisterImages();
    CreateControls();
    // The window's stored settings; the controller turns the confirmation
    // off before every run.
    unzip_->SetCpuType(cptAuto);
    unzip_->SetConfirmOverwrites(true);
    controller_ = std::make_unique<TUpdateController>(*this, *download_, *unzip_, updateUrl, programFolder,
                                                     publicKeyPem);
    controller_->SetRetryPolicy(retryPolicy);
    controller_->FormCreate();
}

TfrmUpdater::~TfrmUpdater() = default;

void TfrmUpdater::CreateControls() {
    using updater_layout::Control;
    setWindowTitle(QString::fromUtf8(updater_layout::kWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));
    setFixedSize(updater_layout::kClientWidth, updater_layout::kClientHeight);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFont(Font(updater_layout::kWindowFont, updater_layout::kWindowFontPixels));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Bevel1 = Laid(Bevel(QFrame::VLine, this), Control("Bevel1"));

    Panel2 = Laid(new QWidget(this), Control("Panel2"));
    Panel2->setAutoFillBackground(true);
    QPalette white = Panel2->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel2->setPalette(white);

    Image1 = Laid(new QLabel(Panel2), Control("Image1"));
    Image1->setScaledContents(true);
    Image1->setPixmap(QPixmap(QStringLiteral(":/images/banner.png")));

    pnlRight = Laid(new QWidget(this), Control("pnlRight"));

    labDown = Label(Control("labDown"), pnlRight);
    lblBytes = Label(Control("lblBytes"), pnlRight);
    lbNum = Laid(new QLabel(pnlRight), Control("lbNum"));
    Bevel2 = Laid(Bevel(QFrame::HLine, pnlRight), Control("Bevel2"));

    DownList = Laid(new QTreeWidget(pnlRight), Control("DownList"));
    DownList->setRootIsDecorated(false);
    DownList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList captions;
    for (const updater_layout::TColumnLayout& column : updater_layout::kQueueColumns)
        captions.append(QString::fromUtf8(column.caption));
    DownList->setHeaderLabels(captions);
    DownList->header()->setStretchLastSection(false);
    for (int i = 0; i < captions.size(); ++i) {
        // A column of no width takes what the others leave.
        if (const int width = updater_layout::kQueueColumns[i].width)
            DownList->setColumnWidth(i, width);
        else
            DownList->header()->setSectionResizeMode(i, QHeaderView::Stretch);
    }

    pBar = Laid(new QProgressBar(pnlRight), Control("pBar"));
    pBar->setRange(0, 100);
    pBar->setValue(0);
    pBar->setTextVisible(false);

    labUnzip = new QGroupBox(QString::fromUtf8(Control("labUnzip").caption), pnlRight);
    Laid(labUnzip, Control("labUnzip"));
    Gauge1 = Gauge(Control("Gauge1"), labUnzip);
    Gauge2 = Gauge(Control("Gauge2"), labUnzip);
    lbState = Label(Control("lbState"), labUnzip);

    btnCancel = Button(Control("btnCancel"), QStringLiteral(":/images/cancel.png"), pnlRight);
    btnRedown = Button(Control("btnRedown"), QStringLiteral(":/images/restart.png"), pnlRight);
    btnClose = Button(Control("btnClose"), QStringLiteral(":/images/close.png"), pnlRight);

    // The progress bar and the group box take no focus; of the rest, tab
    // order is the list, then the buttons left to right.
    setTabOrder(DownList, btnCancel);
    setTabOrder(btnCancel, btnRedown);
    setTabOrder(btnRedown, btnClose);

    connect(btnCancel, &QPushButton::clicked, this, [this] { controller_->btnCancelClick(); });
    connect(btnRedown, &QPushButton::clicked, this, [this] { controller_->btnRedownClick(); });
    connect(btnClose, &QPushButton::clicked, this, [this] { controller_->btnCloseClick(); });
}

// Showing the window delivers the first resize notification. Qt sends its
// resize before the window appears on screen; the notification is held back
// until it has, so the user sees the run that it starts.
void TfrmUpdater::setVisible(bool visible) {
    QWidget::setVisible(visible);
    if (visible && resizeBeforeShown_) {
        resizeBeforeShown_ = false;
        DeliverResize();
    }
}

void TfrmUpdater::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isVisible())
        DeliverResize();
    else
        resizeBeforeShown_ = true;
}

// Minimising and restoring the window count as resizes, as they do on the
// desktop the updater was made for.
void TfrmUpdater::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
    const bool isMinimized = windowState() & Qt::WindowMinimized;
    if (wasMinimized != isMinimized && isVisible()) DeliverResize();
}

void TfrmUpdater::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    controller_->FormCloseQuery(canClose);
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TfrmUpdater::DeliverResize() { controller_->FormResize(); }

QWidget* TfrmUpdater::Control(TUpdaterControl control) const {
    switch (control) {
        case TUpdaterControl::labDown: return labDown;
        case TUpdaterControl::lblBytes: return lblBytes;
        case TUpdaterControl::labUnzip: return labUnzip;
        case TUpdaterControl::pBar: return pBar;
        case TUpdaterControl::Gauge1: return Gauge1;
        case TUpdaterControl::Gauge2: return Gauge2;
        case TUpdaterControl::Bevel2: return Bevel2;
        case TUpdaterControl::pnlRight: return pnlRight;
        case TUpdaterControl::btnCancel: return btnCancel;
        case TUpdaterControl::btnRedown: return btnRedown;
        case TUpdaterControl::btnClose: return btnClose;
    }
    return nullptr;
}

void TfrmUpdater::SetWindowCaption(const std::string& text) { setWindowTitle(Q(text)); }

void TfrmUpdater::SetCaption(TUpdaterControl control, const std::string& text) {
    QWidget* widget = Control(control);
    if (auto* label = qobject_cast<TAutoSizeLabel*>(widget))
        label->SetCaption(Q(text));
    else if (auto* group = qobject_cast<QGroupBox*>(widget))
        group->setTitle(Q(text));
    else if (auto* button = qobject_cast<QPushButton*>(widget))
        button->setText(Q(text));
}

void TfrmUpdater::SetVisible(TUpdaterControl control, bool visible) { Control(control)->setVisible(visible); }

void TfrmUpdater::SetEnabled(TUpdaterControl control, bool enabled) { Control(control)->setEnabled(enabled); }

void TfrmUpdater::Repaint(TUpdaterControl control) { Control(control)->repaint(); }

void TfrmUpdater::SetMaximum(TUpdaterControl control, int maximum) {
    QWidget* widget = Control(control);
    if (auto* bar = qobject_cast<QProgressBar*>(widget))
        bar->setMaximum(maximum);
    else if (auto* gauge = qobject_cast<TGauge*>(widget))
        gauge->SetMaxValue(maximum);
}

void TfrmUpdater::SetPosition(TUpdaterControl control, int position) {
    QWidget* widget = Control(control);
    if (auto* bar = qobject_cast<QProgressBar*>(widget))
        bar->setValue(position);
    else if (auto* gauge = qobject_cast<TGauge*>(widget))
        gauge->SetProgress(position);
}

TControlBounds TfrmUpdater::Bounds(TUpdaterControl control) const {
    const QRect r = Control(control)->geometry();
    return {r.x(), r.y(), r.width(), r.height()};
}

void TfrmUpdater::SetBounds(TUpdaterControl control, const TControlBounds& bounds) {
    Control(control)->setGeometry(bounds.left, bounds.top, bounds.width, bounds.height);
}

void* TfrmUpdater::AddQueueRow(const std::string& caption) {
    return new QTreeWidgetItem(DownList, {Q(caption), QString(), QString()});
}

int TfrmUpdater::QueueRowCount() const { return DownList->topLevelItemCount(); }

void* TfrmUpdater::QueueRow(int index) const { return DownList->topLevelItem(index); }

std::string TfrmUpdater::QueueRowCaption(int index) const {
    return DownList->topLevelItem(index)->text(0).toStdString();
}

std::string TfrmUpdater::ThousandsSeparator() const { return thousandsSeparator_; }

void TfrmUpdater::ShowError(const std::string& text) {
    QMessageBox::critical(this, QCoreApplication::applicationName(), Q(text));
}

bool TfrmUpdater::AskRetry(const std::string& text) {
    return QMessageBox::warning(this, QCoreApplication::applicationName(), Q(text),
                                QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry) == QMessageBox::Retry;
}

void TfrmUpdater::RequestTermination() { RequestApplicationTermination(); }
