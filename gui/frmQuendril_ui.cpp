#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>

#include "mainwindowui.h"
#include "uilayout.h"

namespace quendril {

using ui::programFont;
using ui::twipsRect;

namespace {

const QColor kClientBack(128, 128, 128);
const QColor kPanelBlue(0, 0, 192);
const QColor kStripGrey(192, 192, 192);
const QColor kLegendNavy(0, 0, 128);
const QColor kBarYellow(255, 255, 0);

void setBackground(QWidget& w, const QColor& c) {
    QPalette p = w.palette();
    p.setColor(QPalette::Window, c);
    w.setPalette(p);
    w.setAutoFillBackground(true);
}

QWidget* makePanel(QWidget* parent, int left, int top, int width, int height) {
    auto* panel = new QWidget(parent);
    panel->setGeometry(twipsRect(left, top, width, height, parent));
    panel->hide();
    return panel;
}

ShapeBox* makeShape(QWidget* parent, const QColor& fill, bool border, int left, int top, int width,
                    int height) {
    auto* s = new ShapeBox(parent, fill, border);
    s->setGeometry(twipsRect(left, top, width, height, parent));
    return s;
}

CaptionLabel* makeLabel(QWidget* parent, int left, int top, int width, int height, const QColor& text,
                        bool autoSize = false) {
    auto* l = new CaptionLabel(parent, autoSize);
    l->setGeometry(twipsRect(left, top, width, height, parent));
    l->setTextColor(text);
    return l;
}

// A heading: white text on the panel's blue, sized to its text.
CaptionLabel* makeHeading(QWidget* parent, int left, int top) {
    return makeLabel(parent, left, top, 0, 240, Qt::white, true);
}

void buildMenus(QMainWindow& w, MainWindowUi& ui) {
    QMenuBar* bar = w.menuBar();
    ui.mnuSetting = bar->addMenu(QString());
    ui.mnuSettingAction = ui.mnuSetting->menuAction();
    ui.mnuBoxCountSet = ui.mnuSetting->addAction(QString());
    ui.mnuFileSet = ui.mnuSetting->addAction(QString());
    ui.mnuCommSet = ui.mnuSetting->addAction(QString());
    ui.mnuMinimum = ui.mnuSetting->addAction(QString());
    ui.mnuMinimum->setCheckable(true);
    ui.sepalate = ui.mnuSetting->addSeparator();
    ui.mnuExit = ui.mnuSetting->addAction(QString());
    ui.mnuTransmit = bar->addAction(QString());
    ui.mnuVersion = bar->addAction(QString());
}

void buildStatusPanel(MainWindowUi& ui) {
    QWidget* p = ui.fraStatus = makePanel(ui.client, 120, 120, 5175, 1575);
    ui.shpTransmit[0] = makeShape(p, kPanelBlue, true, 0, 0, 5175, 1575);
    ui.shpTransmit[1] = makeShape(p, kStripGrey, false, 240, 240, 4695, 1095);
    const int rows[3] = {240, 600, 960};
    for (int r = 0; r < 3; ++r) {
        ui.lblTransmit[r] = makeLabel(p, 240, rows[r], 0, 240, Qt::black, true);
        ui.lblCollon[r] = makeLabel(p, 1560, rows[r], 135, 255, Qt::black);
        ui.lblCollon[r]->setCaption(":");
    }
    ui.lblStatus = makeLabel(p, 1800, 240, 3135, 315, Qt::black);
    ui.lblKind = makeLabel(p, 1800, 600, 3135, 315, Qt::black);
    ui.lblID = makeLabel(p, 1800, 960, 3135, 315, Qt::black);
}

void buildScalePanel(MainWindowUi& ui) {
    QWidget* p = ui.fraScale = makePanel(ui.client, 120, 1920, 5175, 855);
    ui.shpTransmit[2] = makeShape(p, kPanelBlue, true, 0, 0, 5175, 855);
    ui.lblFileName = makeLabel(p, 1920, 0, 0, 240, Qt::white, true);
    ui.lblTransmit[3] = makeHeading(p, 240, 0);

    ui.picScale = new QFrame(p);
    ui.picScale->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    ui.picScale->setLineWidth(2);
    ui.picScale->setGeometry(twipsRect(240, 240, 4695, 375, p));
    setBackground(*ui.picScale, kStripGrey);

    // The bar and the percentage live inside the box's border.
    const QPoint inner = ui.picScale->contentsRect().topLeft();
    ui.shpScale = new ShapeBox(ui.picScale, kBarYellow, false);
    ui.shpScale->setGeometry(QRect(inner, QSize(0, ui.picScale->contentsRect().height())));
    ui.lblScale = makeLabel(ui.picScale, 1800, 0, 975, 255, Qt::black);
    ui.lblScale->move(ui.lblScale->pos() + inner);
    ui.lblScale->setFont(programFont(12));
    ui.lblScale->setAlignment(Qt::AlignCenter);
}

void buildErrorPanel(MainWindowUi& ui) {
    QWidget* p = ui.fraErrorInfo = makePanel(ui.client, 120, 3000, 5175, 855);
    ui.shpTransmit[4] = makeShape(p, kPanelBlue, true, 0, 0, 5175, 855);
    ui.shpTransmit[5] = makeShape(p, kStripGrey, false, 240, 240, 4695, 375);
    ui.lblTransmit[4] = makeHeading(p, 240, 0);
    ui.lblErrorInfo = makeLabel(p, 240, 240, 0, 240, Qt::black, true);
}

void buildConnectionPanel(MainWindowUi& ui) {
    QWidget* p = ui.fraConnectionList = makePanel(ui.client, 5520, 120, 3135, 5055);
    ui.shpTransmit[6] = makeShape(p, kPanelBlue, true, 0, 0, 3135, 5055);
    ui.lblTransmit[5] = makeHeading(p, 240, 0);
    for (int i = 0; i < kCellCount; ++i) {
        const QRect r = cellRectTwips(i);
        CaptionLabel* cell = makeLabel(p, r.x(), r.y(), r.width(), r.height(), Qt::black);
        cell->setAlignment(Qt::AlignCenter);
        setBackground(*cell, kStripGrey);
        ui.lblHandyID[i] = cell;
    }
    const QColor legendText[3] = {QColor(255, 255, 255), QColor(0, 0, 255), QColor(255, 0, 0)};
    for (int k = 0; k < 3; ++k) {
        CaptionLabel* l = makeLabel(p, 240, 4080 + 240 * k, 2655, 255, legendText[k]);
        setBackground(*l, kLegendNavy);
        ui.lblTransmit[6 + k] = l;
    }
}

}  // namespace

CaptionLabel::CaptionLabel(QWidget* parent, bool autoSize) : QLabel(parent), autoSize_(autoSize) {
    setTextFormat(Qt::PlainText);
    setFont(programFont());
}

void CaptionLabel::setCaption(const std::string& caption) {
    caption_ = caption;
    setText(captionText(caption));
    if (autoSize_) resize(sizeHint().width(), height());
}

void CaptionLabel::setTextColor(const QColor& c) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, c);
    setPalette(p);
}

QColor CaptionLabel::textColor() const { return palette().color(QPalette::WindowText); }

ShapeBox::ShapeBox(QWidget* parent, const QColor& fill, bool border)
    : QWidget(parent), fill_(fill), border_(border) {}

void ShapeBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), fill_);
    if (border_) {
        p.setPen(Qt::black);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

QString captionText(const std::string& caption) {
    std::string shown;
    shown.reserve(caption.size());
    for (size_t i = 0; i < caption.size(); ++i) {
        // "&x" marks x as the access key; the marker itself is not shown.
        if (caption[i] == '&' && i + 1 < caption.size()) ++i;
        shown += caption[i];
    }
    return QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size()));
}

QRect cellRectTwips(int i) { return {240 + 1440 * (i % 2), 240 + 480 * (i / 2), 1215, 255}; }

void buildMainWindowUi(QMainWindow& w, MainWindowUi& ui) {
    buildMenus(w, ui);
    ui.client = new QWidget(&w);
    ui.client->setFixedSize(ui::twips(kClientWidthTwips, &w), ui::twips(kClientHeightTwips, &w));
    setBackground(*ui.client, kClientBack);
    w.setCentralWidget(ui.client);

    buildStatusPanel(ui);
    buildScalePanel(ui);
    buildErrorPanel(ui);
    buildConnectionPanel(ui);

    ui.cmdTransmitCancel = new QPushButton(ui.client);
    ui.cmdTransmitCancel->setGeometry(twipsRect(3480, 4440, 1695, 735, ui.client));
    ui.cmdTransmitCancel->setFont(programFont(12));
    ui.cmdTransmitCancel->hide();
}

}  // namespace quendril
