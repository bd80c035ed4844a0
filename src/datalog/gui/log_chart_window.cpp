#include "datalog/gui/log_chart_window.h"

#include "platform/file_dialogs.h"
#include "platform/file_io.h"
#include "platform/messages.h"

#include <QBuffer>
#include <QChart>
#include <QComboBox>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPen>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr double kWheelZoom = 1.25;     // one wheel step shows 1/1.25 of the range
constexpr qreal kKeyPanPixels = 40;     // one arrow key press
constexpr int kFallbackPlotWidth = 800; // pixel columns before the chart has been laid out
constexpr int kXTicks = 8, kYTicks = 6; // about as many steps between labels on each axis

QString ToQt(const std::string& s) { return QString::fromStdString(s); }

// An axis range around [lo, hi] with a little room, never empty.
std::pair<double, double> Padded(double lo, double hi, double pad) {
    if (!(hi > lo)) return {lo - 0.5, hi + 0.5};
    const double room = (hi - lo) * pad;
    return {lo - room, hi + room};
}

// A value axis with ticks on round numbers at any zoom.
QValueAxis* MakeValueAxis(int ticks) {
    auto* axis = new QValueAxis;
    axis->setLabelFormat("%g");
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    QObject::connect(axis, &QValueAxis::rangeChanged, axis,
                     [axis, ticks](qreal min, qreal max) { axis->setTickInterval(NiceTickStep(max - min, ticks)); });
    return axis;
}

} // namespace

LogChartView::LogChartView(QChart* chart, QWidget* parent) : QChartView(chart, parent) {
    setObjectName("Chart1");
    setRubberBand(QChartView::RectangleRubberBand);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void LogChartView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) return;
    const QRectF area = chart()->plotArea();
    const QPointF at = event->position();
    // The rectangle that will fill the plot area: smaller to zoom in, larger to zoom out, with the
    // point under the pointer staying where it is.
    const double f = delta > 0 ? 1.0 / kWheelZoom : kWheelZoom;
    const QRectF target(at.x() - (at.x() - area.left()) * f, at.y() - (at.y() - area.top()) * f, area.width() * f,
                        area.height() * f);
    chart()->zoomIn(target);
    event->accept();
}

void LogChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton) {
        panning_ = true;
        lastPan_ = event->position();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void LogChartView::mouseMoveEvent(QMouseEvent* event) {
    if (panning_) {
        const QPointF d = event->position() - lastPan_;
        lastPan_ = event->position();
        chart()->scroll(-d.x(), d.y());
        event->accept();
        return;
    }
    if (chart()->plotArea().contains(event->position()))
        emit pointerAt(chart()->mapToValue(event->position()));
    else
        emit pointerLeft();
    QChartView::mouseMoveEvent(event);
}

void LogChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (panning_ && (event->button() == Qt::RightButton || event->button() == Qt::MiddleButton)) {
        panning_ = false;
        unsetCursor();
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void LogChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit resetRequested();
        event->accept();
        return;
    }
    QChartView::mouseDoubleClickEvent(event);
}

void LogChartView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left: chart()->scroll(-kKeyPanPixels, 0); break;
    case Qt::Key_Right: chart()->scroll(kKeyPanPixels, 0); break;
    case Qt::Key_Up: chart()->scroll(0, kKeyPanPixels); break;
    case Qt::Key_Down: chart()->scroll(0, -kKeyPanPixels); break;
    case Qt::Key_Plus: chart()->zoom(kWheelZoom); break;
    case Qt::Key_Minus: chart()->zoom(1.0 / kWheelZoom); break;
    case Qt::Key_Home: emit resetRequested(); break;
    default: QChartView::keyPressEvent(event); return;
    }
    event->accept();
}

void LogChartView::leaveEvent(QEvent* event) {
    emit pointerLeft();
    QChartView::leaveEvent(event);
}

LogChartWindow* LogChartWindow::Open(std::vector<PlotRun> runs, SettingsStore& settings, UserMessages& messages,
                                     FileDialogs& files, QWidget* parent) {
    const ChartSettings chartSettings(settings);
    auto chart = LogChart::Open(std::move(runs), chartSettings);
    if (!chart) {
        messages.MessageBox(chart.Error(), "Kestrovane", MsgButtons::OK, MsgIcon::Information);
        return nullptr;
    }
    auto* window = new LogChartWindow(std::move(*chart), settings, messages, files, parent);
    window->Draw();
    return window;
}

LogChartWindow::LogChartWindow(LogChart chart, SettingsStore& settings, UserMessages& messages, FileDialogs& files,
                               QWidget* parent)
    : QWidget(parent, Qt::Window), chart_(std::move(chart)), settings_(settings), messages_(messages), files_(files) {
    setObjectName("frmDataLogChart");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ToQt(chart_.Title()));

    cmbXAxis_ = new QComboBox(this);
    cmbXAxis_->setObjectName("cmbXAxis");
    listAvailableVars_ = new QListWidget(this);
    listAvailableVars_->setObjectName("listAvailableVars");
    listPlotVars_ = new QListWidget(this);
    listPlotVars_->setObjectName("listPlotVars");
    cmdAddSeries_ = new QPushButton("&Add >>", this);
    cmdAddSeries_->setObjectName("cmdAddSeries");
    cmdRemoveSeries_ = new QPushButton("<< &Remove", this);
    cmdRemoveSeries_->setObjectName("cmdRemoveSeries");
    cmdResetZoom_ = new QPushButton("Reset &zoom", this);
    cmdResetZoom_->setObjectName("cmdResetZoom");
    cmdResetZoom_->setToolTip("Show all data again (Home, or a double click on the chart)");
    cmdSavePicture_ = new QPushButton("Save as &picture...", this);
    cmdSavePicture_->setObjectName("cmdSaveChartPicture");
    lblPointer_ = new QLabel(this);
    lblPointer_->setObjectName("lblChartPointer");
    lblPointer_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    qchart_ = new QChart;
    qchart_->legend()->setVisible(true);
    qchart_->legend()->setAlignment(Qt::AlignRight);
    qchart_->setBackgroundRoundness(0);
    axisX_ = MakeValueAxis(kXTicks);
    qchart_->addAxis(axisX_, Qt::AlignBottom);
    pointerBox_ = new QGraphicsRectItem(qchart_);
    pointerBox_->setBrush(QColor(255, 255, 255, 225));
    pointerBox_->setPen(QPen(QColor(0x80, 0x80, 0x80)));
    pointerBox_->setZValue(100);
    pointerBox_->hide();
    pointerText_ = new QGraphicsSimpleTextItem(pointerBox_);
    view_ = new LogChartView(qchart_, this);
    view_->setToolTip("Wheel or drag a rectangle to zoom; drag with the right or middle button or use the arrow "
                      "keys to pan; Home or a double click shows all data");
    view_->setMinimumSize(480, 320);

    auto* left = new QVBoxLayout;
    auto* xLabel = new QLabel("Variable on X axis:", this);
    xLabel->setBuddy(cmbXAxis_);
    left->addWidget(xLabel);
    left->addWidget(cmbXAxis_);
    left->addWidget(new QLabel("Logged variables:", this));
    left->addWidget(listAvailableVars_, 1);
    auto* moves = new QHBoxLayout;
    moves->addWidget(cmdAddSeries_);
    moves->addWidget(cmdRemoveSeries_);
    left->addLayout(moves);
    left->addWidget(new QLabel("Variables to plot:", this));
    left->addWidget(listPlotVars_, 1);

    auto* right = new QVBoxLayout;
    right->addWidget(view_, 1);
    auto* below = new QHBoxLayout;
    below->addWidget(lblPointer_, 1);
    below->addWidget(cmdResetZoom_);
    below->addWidget(cmdSavePicture_);
    right->addLayout(below);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addLayout(right, 1);
    resize(1100, 650);

    FillLists();

    connect(cmbXAxis_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (filling_ || index < 0) return;
        if (chart_.SetXVariable(cmbXAxis_->itemText(index).toStdString(), settings_)) Draw();
    });
    connect(cmdAddSeries_, &QPushButton::clicked, this, &LogChartWindow::AddSelectedSeries);
    connect(cmdRemoveSeries_, &QPushButton::clicked, this, &LogChartWindow::RemoveSelectedSeries);
    connect(listAvailableVars_, &QListWidget::itemDoubleClicked, this, &LogChartWindow::AddSelectedSeries);
    connect(listPlotVars_, &QListWidget::itemDoubleClicked, this, &LogChartWindow::RemoveSelectedSeries);
    connect(cmdResetZoom_, &QPushButton::clicked, this, &LogChartWindow::ResetZoom);
    connect(cmdSavePicture_, &QPushButton::clicked, this, &LogChartWindow::SavePicture);
    connect(view_, &LogChartView::resetRequested, this, &LogChartWindow::ResetZoom);
    connect(view_, &LogChartView::pointerAt, this, &LogChartWindow::ShowPointer);
    connect(view_, &LogChartView::pointerLeft, this, &LogChartWindow::HidePointer);
    connect(axisX_, &QValueAxis::rangeChanged, this, &LogChartWindow::ScheduleRefill);
    connect(qchart_, &QChart::plotAreaChanged, this, &LogChartWindow::ScheduleRefill);
}

void LogChartWindow::FillLists() {
    filling_ = true;
    cmbXAxis_->clear();
    for (const auto& h : chart_.XAxisChoices()) cmbXAxis_->addItem(ToQt(h));
    cmbXAxis_->setCurrentText(ToQt(chart_.XVariable()));
    listAvailableVars_->clear();
    for (const auto& e : chart_.Available()) listAvailableVars_->addItem(ToQt(e.label));
    listPlotVars_->clear();
    for (const auto& e : chart_.Plotted()) listPlotVars_->addItem(ToQt(e.label));
    filling_ = false;
}

void LogChartWindow::AddSelectedSeries() {
    const int row = listAvailableVars_->currentRow();
    if (row < 0 || !chart_.AddSeries(static_cast<std::size_t>(row), settings_)) return;
    FillLists();
    listAvailableVars_->setCurrentRow(std::min(row, listAvailableVars_->count() - 1));
    Draw();
}

void LogChartWindow::RemoveSelectedSeries() {
    const int row = listPlotVars_->currentRow();
    if (row < 0 || !chart_.RemoveSeries(static_cast<std::size_t>(row), settings_)) return;
    FillLists();
    listPlotVars_->setCurrentRow(std::min(row, listPlotVars_->count() - 1));
    Draw();
}

void LogChartWindow::Draw() {
    filling_ = true;
    view_->setUpdatesEnabled(false);
    plan_ = chart_.Plan();
    qchart_->removeAllSeries();
    series_.clear();
    for (QValueAxis* axis : axesY_) {
        qchart_->removeAxis(axis);
        delete axis;
    }
    axesY_.clear();
    seriesAxis_.clear();
    std::vector<std::string> variables;
    const int count = static_cast<int>(plan_.series.size());
    for (int i = 0; i < count; ++i) {
        const PlotSeries& s = plan_.series[static_cast<std::size_t>(i)];
        auto* line = new QLineSeries;
        line->setName(ToQt(s.label));
        // Hues spread over the circle so that every series of a busy chart has its own colour.
        line->setColor(QColor::fromHsv(i * 360 / count, 220, i % 2 == 0 ? 200 : 150));
        qchart_->addSeries(line);
        auto known = std::find(variables.begin(), variables.end(), s.name);
        if (known == variables.end()) {
            // The variable's own axis, in its first series' colour.
            QValueAxis* axis = MakeValueAxis(kYTicks);
            axis->setTitleText(ToQt(s.name));
            axis->setTitleBrush(line->color());
            axis->setLabelsColor(line->color());
            qchart_->addAxis(axis, axesY_.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
            axesY_.push_back(axis);
            known = variables.insert(variables.end(), s.name);
        }
        seriesAxis_.push_back(static_cast<std::size_t>(known - variables.begin()));
        line->attachAxis(axisX_);
        line->attachAxis(axesY_[seriesAxis_.back()]);
        series_.push_back(line);
    }
    axisX_->setTitleText(ToQt(chart_.XVariable()));
    filling_ = false;
    ResetZoom();
    view_->setUpdatesEnabled(true);
    if (plan_.internalError) messages_.MessageBox(kChartInternalError, "Error", MsgButtons::OK, MsgIcon::Critical);
}

void LogChartWindow::ResetZoom() {
    const auto bounds = chart_.Bounds(plan_);
    filling_ = true;
    qchart_->zoomReset();
    if (bounds) {
        const auto [x0, x1] = Padded(bounds->xMin, bounds->xMax, 0.0);
        axisX_->setRange(x0, x1);
    } else {
        axisX_->setRange(0, 1);
    }
    // Each Y axis over its own variable's series.
    for (std::size_t a = 0; a < axesY_.size(); ++a) {
        SeriesPlan own;
        for (std::size_t i = 0; i < plan_.series.size(); ++i)
            if (seriesAxis_[i] == a) own.series.push_back(plan_.series[i]);
        const auto b = chart_.Bounds(own);
        const auto [y0, y1] = b ? Padded(b->yMin, b->yMax, 0.05) : std::pair{0.0, 1.0};
        axesY_[a]->setRange(y0, y1);
    }
    filling_ = false;
    Refill();
}

void LogChartWindow::ScheduleRefill() {
    if (filling_ || refillPending_) return;
    refillPending_ = true;
    QTimer::singleShot(0, this, [this] {
        refillPending_ = false;
        Refill();
    });
}

void LogChartWindow::Refill() {
    const bool wasEnabled = view_->updatesEnabled();
    view_->setUpdatesEnabled(false);
    filling_ = true;
    const int plotWidth = static_cast<int>(qchart_->plotArea().width());
    const int pixels = plotWidth > 0 ? plotWidth : kFallbackPlotWidth;
    const double xMin = axisX_->min(), xMax = axisX_->max();
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const PlotSeries& s = plan_.series[i];
        const auto points = ReduceToPixels(chart_.Runs()[s.run], s.xColumn, s.yColumn, xMin, xMax, pixels);
        QList<QPointF> list;
        list.reserve(static_cast<qsizetype>(points.size()));
        for (const ChartPoint& p : points) list.append(QPointF(p.x, p.y));
        series_[i]->replace(list);
    }
    filling_ = false;
    view_->setUpdatesEnabled(wasEnabled);
}

void LogChartWindow::ShowPointer(QPointF value) {
    // Numbers with the decimals their column shows (six significant digits where unknown).
    const auto decimalsOf = [this](std::size_t run, std::size_t column) {
        const auto& d = chart_.Runs()[run].decimals;
        return column < d.size() ? d[column] : -1;
    };
    const auto shown = [](double v, int decimals) {
        return decimals >= 0 ? QString::number(v, 'f', decimals) : QString::number(v, 'g', 6);
    };
    // The pointer's Y is read on the first series' axis.
    int xDecimals = -1, yDecimals = -1;
    for (const PlotSeries& s : plan_.series) xDecimals = std::max(xDecimals, decimalsOf(s.run, s.xColumn));
    if (!plan_.series.empty()) yDecimals = decimalsOf(plan_.series.front().run, plan_.series.front().yColumn);
    lblPointer_->setText(QString("X: %1   Y: %2").arg(shown(value.x(), xDecimals), shown(value.y(), yDecimals)));
    const QRectF area = qchart_->plotArea();
    // Every series at the pointer's X: its point nearest in X.
    QStringList lines;
    for (const PlotSeries& s : plan_.series) {
        const auto p = PointAtX(chart_.Runs()[s.run], s.xColumn, s.yColumn, value.x());
        if (p)
            lines << QString("%1: %2 at %3")
                         .arg(ToQt(s.label), shown(p->y, decimalsOf(s.run, s.yColumn)),
                              shown(p->x, decimalsOf(s.run, s.xColumn)));
    }
    if (lines.isEmpty()) {
        pointerBox_->hide();
        return;
    }
    pointerText_->setText(lines.join('\n'));
    const QRectF text = pointerText_->boundingRect();
    const qreal pad = 4;
    pointerBox_->setRect(0, 0, text.width() + 2 * pad, text.height() + 2 * pad);
    pointerText_->setPos(pad, pad);
    // Beside the pointer, on the side where it fits in the plot area.
    const QPointF at = qchart_->mapToPosition(value);
    const QRectF box = pointerBox_->rect();
    qreal x = at.x() + 12, y = at.y() + 12;
    if (x + box.width() > area.right()) x = at.x() - 12 - box.width();
    if (y + box.height() > area.bottom()) y = at.y() - 12 - box.height();
    pointerBox_->setPos(std::max(x, area.left()), std::max(y, area.top()));
    pointerBox_->show();
}

void LogChartWindow::HidePointer() {
    pointerBox_->hide();
    lblPointer_->clear();
}

QString LogChartWindow::PointerReadout() const { return pointerBox_->isVisible() ? pointerText_->text() : QString(); }

void LogChartWindow::SavePicture() {
    const auto file = files_.SaveFileDialog("Save chart as picture", "PNG pictures (*.png)|*.png", "png", "");
    if (!file) return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!view_->grab().save(&buffer, "PNG")) {
        messages_.MessageBox("The chart could not be made into a picture - picture not saved", "Error", MsgButtons::OK,
                             MsgIcon::Critical);
        return;
    }
    const std::string error = SaveFileAtomically(file->path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    if (!error.empty())
        messages_.MessageBox("Error when saving - picture not saved\r\n" + error, "Error", MsgButtons::OK,
                             MsgIcon::Critical);
}

} // namespace kv
