#include "datalog/gui/log_chart_window.h"

#include "platform/file_dialogs.h"
#include "platform/file_io.h"
#include "platform/messages.h"

#include <QBuffer>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGraphicsItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
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
constexpr qreal kMarkerSize = 5;        // a scatter point's diameter in pixels
constexpr double kScatterReach = 12;    // how near the pointer a point is read out, pixels
constexpr int kTimeTab = 0, kScatterTab = 1;

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

// Sets an axis' range with its tick step for that range set first: the chart lays out an axis' ticks
// before anything that follows the range change runs, so a step left from a much narrower range
// would make it lay out a label for every one of that many steps.
void SetAxisRange(QValueAxis* axis, double lo, double hi, int ticks) {
    axis->setTickInterval(NiceTickStep(hi - lo, ticks));
    axis->setRange(lo, hi);
}

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

// A filled circle of a colour step, the picture every point of the step is drawn with.
QImage Marker(QColor colour) {
    const int side = static_cast<int>(kMarkerSize);
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(0, 0, side, side));
    return image;
}

// Numbers with the decimals their column shows (six significant digits where unknown).
QString Shown(double v, int decimals) {
    return decimals >= 0 ? QString::number(v, 'f', decimals) : QString::number(v, 'g', 6);
}

int DecimalsOf(const PlotRun& run, std::size_t column) {
    return column < run.decimals.size() ? run.decimals[column] : -1;
}

} // namespace

// The scatter view's points: each a marker picture of its colour step, placed by the axes' range
// at the time it is painted (so that a pan moves them at once, before they are refilled).
class ScatterPointsItem final : public QGraphicsItem {
public:
    ScatterPointsItem(QChart* chart, QValueAxis* x, QValueAxis* y) : QGraphicsItem(chart), chart_(chart), x_(x), y_(y) {
        setZValue(50);
        for (int step = 0; step < kScatterColourSteps; ++step)
            markers_[static_cast<std::size_t>(step)] = Marker(ToQColor(ScatterStepColour(step)));
    }
    void SetPoints(std::array<std::vector<ChartPoint>, kScatterColourSteps> steps) {
        prepareGeometryChange();
        steps_ = std::move(steps);
        update();
    }
    const std::array<std::vector<ChartPoint>, kScatterColourSteps>& Points() const { return steps_; }
    QRectF boundingRect() const override { return chart_->plotArea(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        const QRectF area = chart_->plotArea();
        const double xSpan = x_->max() - x_->min(), ySpan = y_->max() - y_->min();
        if (!(xSpan > 0) || !(ySpan > 0)) return;
        painter->save();
        painter->setClipRect(area);
        const double sx = area.width() / xSpan, sy = area.height() / ySpan, half = kMarkerSize / 2;
        const double left = area.left() - half - x_->min() * sx, bottom = area.bottom() - half + y_->min() * sy;
        for (std::size_t step = 0; step < steps_.size(); ++step) {
            const QImage& marker = markers_[step];
            for (const ChartPoint& p : steps_[step])
                painter->drawImage(QPointF(left + p.x * sx, bottom - p.y * sy), marker);
        }
        painter->restore();
    }

private:
    QChart* chart_;
    QValueAxis* x_;
    QValueAxis* y_;
    std::array<QImage, kScatterColourSteps> markers_;
    std::array<std::vector<ChartPoint>, kScatterColourSteps> steps_;
};

PointerBox::PointerBox(QChart* chart) : chart_(chart) {
    box_ = new QGraphicsRectItem(chart);
    box_->setBrush(QColor(255, 255, 255, 225));
    box_->setPen(QPen(QColor(0x80, 0x80, 0x80)));
    box_->setZValue(100);
    box_->hide();
    text_ = new QGraphicsSimpleTextItem(box_);
}

void PointerBox::Show(QPointF value, const QStringList& lines) {
    if (lines.isEmpty()) {
        Hide();
        return;
    }
    text_->setText(lines.join('\n'));
    const QRectF text = text_->boundingRect();
    const qreal pad = 4;
    box_->setRect(0, 0, text.width() + 2 * pad, text.height() + 2 * pad);
    text_->setPos(pad, pad);
    const QRectF area = chart_->plotArea();
    const QPointF at = chart_->mapToPosition(value);
    const QRectF box = box_->rect();
    qreal x = at.x() + 12, y = at.y() + 12;
    if (x + box.width() > area.right()) x = at.x() - 12 - box.width();
    if (y + box.height() > area.bottom()) y = at.y() - 12 - box.height();
    box_->setPos(std::max(x, area.left()), std::max(y, area.top()));
    box_->show();
}

void PointerBox::Hide() { box_->hide(); }

QString PointerBox::Text() const { return box_->isVisible() ? text_->text() : QString(); }

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

    // Two runs side by side.
    chkSideBySide_ = new QCheckBox("Runs sid&e by side", this);
    chkSideBySide_->setObjectName("chkSideBySide");
    chkSideBySide_->setToolTip("Two runs over one X axis, each from its start");
    cmbRunBefore_ = new QComboBox(this);
    cmbRunBefore_->setObjectName("cmbRunBefore");
    cmbRunAfter_ = new QComboBox(this);
    cmbRunAfter_->setObjectName("cmbRunAfter");
    cmbSideX_ = new QComboBox(this);
    cmbSideX_->setObjectName("cmbSideX");
    cmbSideX_->addItem(kTimeFromStartTitle);
    cmbSideX_->addItem(kRpmHeader);
    udStartRpm_ = new QSpinBox(this);
    udStartRpm_->setObjectName("udStartRpm");
    udStartRpm_->setRange(0, 9900);
    udStartRpm_->setSingleStep(100);
    udStartRpm_->setSpecialValueText("trigger");
    udStartRpm_->setToolTip("Each run starts at its first row with at least this engine speed (0: at the trigger)");

    qchart_ = new QChart;
    qchart_->legend()->setVisible(true);
    qchart_->legend()->setAlignment(Qt::AlignRight);
    qchart_->setBackgroundRoundness(0);
    axisX_ = MakeValueAxis(kXTicks);
    qchart_->addAxis(axisX_, Qt::AlignBottom);
    pointer_.emplace(qchart_);
    view_ = new LogChartView(qchart_, this);
    view_->setToolTip("Wheel or drag a rectangle to zoom; drag with the right or middle button or use the arrow "
                      "keys to pan; Home or a double click shows all data");
    view_->setMinimumSize(480, 320);

    // The scatter view.
    cmbScatterX_ = new QComboBox(this);
    cmbScatterX_->setObjectName("cmbScatterX");
    cmbScatterY_ = new QComboBox(this);
    cmbScatterY_->setObjectName("cmbScatterY");
    cmbScatterColour_ = new QComboBox(this);
    cmbScatterColour_->setObjectName("cmbScatterColour");
    for (QComboBox* box : {cmbScatterX_, cmbScatterY_, cmbScatterColour_}) {
        for (const auto& name : chart_.XAxisChoices()) box->addItem(ToQt(name));
    }
    const ScatterAxes axes = DefaultScatterAxes(chart_.XAxisChoices());
    cmbScatterX_->setCurrentText(ToQt(axes.x));
    cmbScatterY_->setCurrentText(ToQt(axes.y));
    cmbScatterColour_->setCurrentText(ToQt(axes.colour));
    lblColourScale_ = new QLabel(this);
    lblColourScale_->setObjectName("lblColourScale");
    lblColourRange_ = new QLabel(this);
    lblColourRange_->setObjectName("lblColourRange");
    scatterChart_ = new QChart;
    scatterChart_->legend()->setVisible(false);
    scatterChart_->setBackgroundRoundness(0);
    scatterAxisX_ = MakeValueAxis(kXTicks);
    scatterAxisY_ = MakeValueAxis(kYTicks);
    scatterChart_->addAxis(scatterAxisX_, Qt::AlignBottom);
    scatterChart_->addAxis(scatterAxisY_, Qt::AlignLeft);
    scatterRange_ = new QLineSeries;
    scatterChart_->addSeries(scatterRange_);
    scatterRange_->attachAxis(scatterAxisX_);
    scatterRange_->attachAxis(scatterAxisY_);
    pointsItem_ = new ScatterPointsItem(scatterChart_, scatterAxisX_, scatterAxisY_);
    scatterPointer_.emplace(scatterChart_);
    scatterView_ = new LogChartView(scatterChart_, this);
    scatterView_->setObjectName("chartScatter");
    scatterView_->setToolTip(view_->toolTip());
    scatterView_->setMinimumSize(480, 320);

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
    left->addWidget(chkSideBySide_);
    auto* side = new QFormLayout;
    side->addRow("Before:", cmbRunBefore_);
    side->addRow("After:", cmbRunAfter_);
    side->addRow("X axis:", cmbSideX_);
    side->addRow("Start at RPM:", udStartRpm_);
    left->addLayout(side);

    auto* scatterPage = new QWidget(this);
    auto* scatterLayout = new QVBoxLayout(scatterPage);
    scatterLayout->setContentsMargins(0, 0, 0, 0);
    auto* choices = new QHBoxLayout;
    const auto addChoice = [&](const char* caption, QComboBox* box) {
        auto* label = new QLabel(caption, scatterPage);
        label->setBuddy(box);
        choices->addWidget(label);
        choices->addWidget(box, 1);
    };
    addChoice("&X:", cmbScatterX_);
    addChoice("&Y:", cmbScatterY_);
    addChoice("&Colour:", cmbScatterColour_);
    scatterLayout->addLayout(choices);
    scatterLayout->addWidget(scatterView_, 1);
    auto* colours = new QHBoxLayout;
    colours->addWidget(lblColourScale_);
    colours->addWidget(lblColourRange_, 1);
    scatterLayout->addLayout(colours);

    tabViews_ = new QTabWidget(this);
    tabViews_->setObjectName("tabChartViews");
    tabViews_->insertTab(kTimeTab, view_, "&Time chart");
    tabViews_->insertTab(kScatterTab, scatterPage, "&Scatter");

    auto* right = new QVBoxLayout;
    right->addWidget(tabViews_, 1);
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
    FillSideBySide();

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

    connect(chkSideBySide_, &QCheckBox::toggled, this, [this] {
        if (!filling_) Draw();
    });
    const auto redrawSide = [this] {
        if (!filling_ && chkSideBySide_->isChecked()) Draw();
    };
    for (QComboBox* box : {cmbRunBefore_, cmbRunAfter_, cmbSideX_})
        connect(box, &QComboBox::currentIndexChanged, this, redrawSide);
    connect(udStartRpm_, &QSpinBox::valueChanged, this, redrawSide);

    for (QComboBox* box : {cmbScatterX_, cmbScatterY_, cmbScatterColour_}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            if (!filling_ && scatter_) DrawScatter();
        });
    }
    connect(tabViews_, &QTabWidget::currentChanged, this, [this](int index) {
        HidePointer();
        if (index == kScatterTab && !scatter_) DrawScatter();
    });
    connect(scatterView_, &LogChartView::resetRequested, this, &LogChartWindow::ResetZoom);
    connect(scatterView_, &LogChartView::pointerAt, this, &LogChartWindow::ShowScatterPointer);
    connect(scatterView_, &LogChartView::pointerLeft, this, &LogChartWindow::HidePointer);
    for (QValueAxis* axis : {scatterAxisX_, scatterAxisY_})
        connect(axis, &QValueAxis::rangeChanged, this, &LogChartWindow::ScheduleScatterRefill);
    connect(scatterChart_, &QChart::plotAreaChanged, this, &LogChartWindow::ScheduleScatterRefill);
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

void LogChartWindow::FillSideBySide() {
    filling_ = true;
    for (QComboBox* box : {cmbRunBefore_, cmbRunAfter_}) {
        for (const PlotRun& run : chart_.Runs()) box->addItem(ToQt(run.name));
    }
    cmbRunBefore_->setCurrentIndex(0);
    cmbRunAfter_->setCurrentIndex(chart_.Runs().size() > 1 ? 1 : 0);
    const bool two = chart_.Runs().size() > 1;
    for (QWidget* w :
         std::initializer_list<QWidget*>{chkSideBySide_, cmbRunBefore_, cmbRunAfter_, cmbSideX_, udStartRpm_})
        w->setEnabled(two);
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

std::vector<std::string> LogChartWindow::PlottedNames() const {
    std::vector<std::string> names;
    for (const PlotEntry& e : chart_.Plotted()) {
        if (std::find(names.begin(), names.end(), e.name) == names.end()) names.push_back(e.name);
    }
    return names;
}

const std::vector<PlotRun>& LogChartWindow::ShownRuns() const { return side_ ? side_->runs : chart_.Runs(); }

void LogChartWindow::Draw() {
    side_.reset();
    if (chkSideBySide_->isChecked()) {
        SideBySideChoice choice;
        choice.before = static_cast<std::size_t>(std::max(cmbRunBefore_->currentIndex(), 0));
        choice.after = static_cast<std::size_t>(std::max(cmbRunAfter_->currentIndex(), 0));
        choice.x = cmbSideX_->currentIndex() == 1 ? SideBySideX::Rpm : SideBySideX::TimeFromStart;
        choice.startRpm = udStartRpm_->value();
        auto aligned = AlignRuns(chart_.Runs(), choice, PlottedNames());
        if (aligned) {
            side_ = std::move(*aligned);
        } else {
            messages_.MessageBox(aligned.Error(), "Kestrovane", MsgButtons::OK, MsgIcon::Information);
            filling_ = true;
            chkSideBySide_->setChecked(false);
            filling_ = false;
        }
    }
    cmbXAxis_->setEnabled(!side_);

    filling_ = true;
    view_->setUpdatesEnabled(false);
    plan_ = side_ ? side_->plan : chart_.Plan();
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
        auto known = std::find(variables.begin(), variables.end(), s.name);
        const bool newVariable = known == variables.end();
        if (newVariable) known = variables.insert(variables.end(), s.name);
        const auto variable = static_cast<int>(known - variables.begin());
        if (side_) {
            // Side by side: a hue per variable, the second run's line darker and dashed.
            const int hues = static_cast<int>(PlottedNames().size());
            QPen pen(QColor::fromHsv(variable * 360 / std::max(hues, 1), 220, s.run == 0 ? 210 : 140));
            pen.setWidthF(s.run == 0 ? 2.0 : 1.5);
            if (s.run != 0) pen.setStyle(Qt::DashLine);
            line->setPen(pen);
        } else {
            // Hues spread over the circle so that every series of a busy chart has its own colour.
            line->setColor(QColor::fromHsv(i * 360 / count, 220, i % 2 == 0 ? 200 : 150));
        }
        qchart_->addSeries(line);
        if (newVariable) {
            // The variable's own axis, in its first series' colour.
            QValueAxis* axis = MakeValueAxis(kYTicks);
            axis->setTitleText(ToQt(s.name));
            axis->setTitleBrush(line->color());
            axis->setLabelsColor(line->color());
            qchart_->addAxis(axis, axesY_.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
            axesY_.push_back(axis);
        }
        seriesAxis_.push_back(static_cast<std::size_t>(variable));
        line->attachAxis(axisX_);
        line->attachAxis(axesY_[seriesAxis_.back()]);
        series_.push_back(line);
    }
    axisX_->setTitleText(ToQt(side_ ? side_->xTitle : chart_.XVariable()));
    filling_ = false;
    ResetZoom();
    view_->setUpdatesEnabled(true);
    if (plan_.internalError) messages_.MessageBox(kChartInternalError, "Error", MsgButtons::OK, MsgIcon::Critical);
}

bool LogChartWindow::ScatterOnShow() const { return tabViews_->currentIndex() == kScatterTab; }

void LogChartWindow::ResetZoom() {
    if (ScatterOnShow()) {
        ResetScatterZoom();
        return;
    }
    const auto bounds = PlanBounds(ShownRuns(), plan_);
    filling_ = true;
    qchart_->zoomReset();
    if (bounds) {
        const auto [x0, x1] = Padded(bounds->xMin, bounds->xMax, 0.0);
        SetAxisRange(axisX_, x0, x1, kXTicks);
    } else {
        SetAxisRange(axisX_, 0, 1, kXTicks);
    }
    // Each Y axis over its own variable's series.
    for (std::size_t a = 0; a < axesY_.size(); ++a) {
        SeriesPlan own;
        for (std::size_t i = 0; i < plan_.series.size(); ++i)
            if (seriesAxis_[i] == a) own.series.push_back(plan_.series[i]);
        const auto b = PlanBounds(ShownRuns(), own);
        const auto [y0, y1] = b ? Padded(b->yMin, b->yMax, 0.05) : std::pair{0.0, 1.0};
        SetAxisRange(axesY_[a], y0, y1, kYTicks);
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
    const auto& runs = ShownRuns();
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const PlotSeries& s = plan_.series[i];
        const auto points = ReduceToPixels(runs[s.run], s.xColumn, s.yColumn, xMin, xMax, pixels);
        QList<QPointF> list;
        list.reserve(static_cast<qsizetype>(points.size()));
        for (const ChartPoint& p : points) list.append(QPointF(p.x, p.y));
        series_[i]->replace(list);
    }
    filling_ = false;
    view_->setUpdatesEnabled(wasEnabled);
}

void LogChartWindow::DrawScatter() {
    scatter_.emplace(chart_.Runs(),
                     ScatterAxes{cmbScatterX_->currentText().toStdString(), cmbScatterY_->currentText().toStdString(),
                                 cmbScatterColour_->currentText().toStdString()});
    scatterAxisX_->setTitleText(cmbScatterX_->currentText());
    scatterAxisY_->setTitleText(cmbScatterY_->currentText());
    ShowColourScale();
    ResetScatterZoom();
}

void LogChartWindow::ShowColourScale() {
    // The steps' colours in a row; beside it the colour variable's lowest and highest value.
    const int stepWidth = 14, height = 14;
    QPixmap scale(stepWidth * kScatterColourSteps, height);
    QPainter painter(&scale);
    for (int step = 0; step < kScatterColourSteps; ++step)
        painter.fillRect(step * stepWidth, 0, stepWidth, height, ToQColor(ScatterStepColour(step)));
    painter.end();
    lblColourScale_->setPixmap(scale);
    QString text = QString("%1: ").arg(cmbScatterColour_->currentText());
    if (scatter_->Points().empty()) {
        text += "no points (no run holds all three variables)";
    } else {
        const int decimals = ScatterDecimals(scatter_->Axes().colour);
        text += QString("%1 or less (blue) to %2 or more (red)")
                    .arg(Shown(scatter_->ColourMin(), decimals), Shown(scatter_->ColourMax(), decimals));
    }
    lblColourRange_->setText(text);
}

int LogChartWindow::ScatterDecimals(const std::string& name) const {
    for (const PlotRun& run : chart_.Runs()) {
        const auto names = VariableNames(run.headers);
        const auto it = std::find(names.begin(), names.end(), name);
        if (it != names.end()) return DecimalsOf(run, static_cast<std::size_t>(it - names.begin()));
    }
    return -1;
}

void LogChartWindow::ResetScatterZoom() {
    if (!scatter_) return;
    filling_ = true;
    scatterChart_->zoomReset();
    if (const auto b = scatter_->Bounds()) {
        const auto [x0, x1] = Padded(b->xMin, b->xMax, 0.02);
        const auto [y0, y1] = Padded(b->yMin, b->yMax, 0.05);
        SetAxisRange(scatterAxisX_, x0, x1, kXTicks);
        SetAxisRange(scatterAxisY_, y0, y1, kYTicks);
    } else {
        SetAxisRange(scatterAxisX_, 0, 1, kXTicks);
        SetAxisRange(scatterAxisY_, 0, 1, kYTicks);
    }
    filling_ = false;
    RefillScatter();
}

ScatterView LogChartWindow::ScatterRange() const {
    return ScatterView{scatterAxisX_->min(), scatterAxisX_->max(), scatterAxisY_->min(), scatterAxisY_->max()};
}

void LogChartWindow::ScheduleScatterRefill() {
    if (filling_ || scatterRefillPending_ || !scatter_) return;
    scatterRefillPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scatterRefillPending_ = false;
        RefillScatter();
    });
}

void LogChartWindow::RefillScatter() {
    if (!scatter_) return;
    const bool wasEnabled = scatterView_->updatesEnabled();
    scatterView_->setUpdatesEnabled(false);
    filling_ = true;
    const QRectF area = scatterChart_->plotArea();
    const int width = area.width() > 0 ? static_cast<int>(area.width()) : kFallbackPlotWidth;
    const int height = area.height() > 0 ? static_cast<int>(area.height()) : kFallbackPlotWidth / 2;
    pointsItem_->SetPoints(scatter_->InView(ScatterRange(), width, height));
    filling_ = false;
    scatterView_->setUpdatesEnabled(wasEnabled);
}

void LogChartWindow::ShowPointer(QPointF value) {
    const auto& runs = ShownRuns();
    // The pointer's Y is read on the first series' axis.
    int xDecimals = -1, yDecimals = -1;
    for (const PlotSeries& s : plan_.series) xDecimals = std::max(xDecimals, DecimalsOf(runs[s.run], s.xColumn));
    if (!plan_.series.empty()) yDecimals = DecimalsOf(runs[plan_.series.front().run], plan_.series.front().yColumn);
    lblPointer_->setText(QString("X: %1   Y: %2").arg(Shown(value.x(), xDecimals), Shown(value.y(), yDecimals)));
    // Every series at the pointer's X: its point nearest in X.
    QStringList lines;
    for (const PlotSeries& s : plan_.series) {
        const auto p = PointAtX(runs[s.run], s.xColumn, s.yColumn, value.x());
        if (p)
            lines << QString("%1: %2 at %3")
                         .arg(ToQt(s.label), Shown(p->y, DecimalsOf(runs[s.run], s.yColumn)),
                              Shown(p->x, DecimalsOf(runs[s.run], s.xColumn)));
    }
    pointer_->Show(value, lines);
}

void LogChartWindow::ShowScatterPointer(QPointF value) {
    if (!scatter_) return;
    const ScatterAxes& axes = scatter_->Axes();
    const auto decimalsOf = [this](const std::string& name) { return ScatterDecimals(name); };
    lblPointer_->setText(
        QString("X: %1   Y: %2").arg(Shown(value.x(), decimalsOf(axes.x)), Shown(value.y(), decimalsOf(axes.y))));
    const QRectF area = scatterChart_->plotArea();
    const auto nearest = scatter_->Nearest(value.x(), value.y(), ScatterRange(), static_cast<int>(area.width()),
                                           static_cast<int>(area.height()), kScatterReach);
    if (!nearest) {
        scatterPointer_->Hide();
        return;
    }
    const ScatterPoint& p = scatter_->Points()[*nearest];
    // The run and its grid row (row 1 is the first sample).
    const QStringList lines = {
        QString("%1, row %2").arg(ToQt(chart_.Runs()[p.run].name)).arg(p.row + 1),
        QString("%1: %2").arg(ToQt(axes.x), Shown(p.x, decimalsOf(axes.x))),
        QString("%1: %2").arg(ToQt(axes.y), Shown(p.y, decimalsOf(axes.y))),
        QString("%1: %2").arg(ToQt(axes.colour), Shown(p.colour, decimalsOf(axes.colour))),
    };
    scatterPointer_->Show(QPointF(p.x, p.y), lines);
}

void LogChartWindow::HidePointer() {
    pointer_->Hide();
    scatterPointer_->Hide();
    lblPointer_->clear();
}

const std::array<std::vector<ChartPoint>, kScatterColourSteps>& LogChartWindow::ScatterShown() const {
    return pointsItem_->Points();
}

QString LogChartWindow::PointerReadout() const { return ScatterOnShow() ? scatterPointer_->Text() : pointer_->Text(); }

void LogChartWindow::SavePicture() {
    const auto file = files_.SaveFileDialog("Save chart as picture", "PNG pictures (*.png)|*.png", "png", "");
    if (!file) return;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QChartView* shown = ScatterOnShow() ? static_cast<QChartView*>(scatterView_) : view_;
    if (!shown->grab().save(&buffer, "PNG")) {
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
