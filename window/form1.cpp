#include "window/form1.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <algorithm>
#include <limits>

#include "engine/meter.h"
#include "resources/embedded_resources.h"
#include "window/instant_mnemonic.h"
#include "window/spin_button.h"
#include "window/tempo_key_filter.h"
#include "window/up_down.h"
#include "window/window_style.h"
#include "window/window_texts.h"

namespace vindelor {
namespace {

// Places in logical pixels (96 dpi); Qt scales them on a high-density screen.
constexpr QSize kClientSize{344, 292};
constexpr QPoint kImage1Place{32, 4};
constexpr QRect kLabel2Place{208, 0, 37, 13};  // "BPM"
constexpr QRect kLabel1Place{280, 0, 37, 13};  // "Takt"
constexpr int kCaptionFlags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextDontClip;
constexpr QRect kSpinButton1Place{212, 20, 25, 101};
constexpr QRect kList1Place{280, 16, 41, 116};
constexpr QRect kText1Place{204, 128, 37, 23};
constexpr QRect kUpDown1Place{244, 128, 16, 25};
constexpr QRect kSlider1Place{172, 208, 145, 34};
constexpr QRect kCommand1Place{64, 260, 61, 21};
constexpr QRect kCommand2Place{276, 260, 61, 21};

constexpr int kSliderTickInterval = 10;
constexpr int kSliderPageStep = 10;

QImage pictureOf(const ResourceLookup& resources, int id) {
    const auto bytes = resources ? resources(kPictureResourceType, id) : std::nullopt;
    if (!bytes || bytes->empty()) {
        return {};
    }
    return QImage::fromData(QByteArrayView(bytes->data(), static_cast<qsizetype>(bytes->size())));
}

QString qtext(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Tan ground, navy text: the tempo box and the meter list.
void paintTanAndNavy(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Base, kTan);
    palette.setColor(QPalette::Text, kNavy);
    widget.setPalette(palette);
}

}  // namespace

Form1::Form1(ClickOutput& output, const Clock& clock, ResourceLookup resources, QWidget* parent)
    : QWidget(parent),
      output_(output),
      clock_(clock),
      resources_(std::move(resources)),
      Hitime1(clock),
      background_(pictureOf(resources_, kBackgroundPictureId)),
      Image1(QPixmap::fromImage(pictureOf(resources_, kMetronomePictureId))),
      Command1(new QPushButton(texts::kStart.toString(), this)),
      Command2(new QPushButton(texts::kCancel.toString(), this)),
      List1(new QListWidget(this)),
      Slider1(new QSlider(Qt::Horizontal, this)),
      SpinButton1(new SpinButton(this)),
      UpDown1(new UpDown(*Slider1, kMinTempo, kMaxTempo, this)),
      Text1(new QLineEdit(qtext(kStartTempoText), this)),
      tempoKeys_(new TempoKeyFilter(this)) {
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));
    List1->setObjectName(QStringLiteral("List1"));
    Slider1->setObjectName(QStringLiteral("Slider1"));
    SpinButton1->setObjectName(QStringLiteral("SpinButton1"));
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Hitime1.setObjectName(QStringLiteral("Hitime1"));
    const QFontMetrics captionMetrics(captionFont());
    captionsArea_ =
        captionMetrics.boundingRect(kLabel2Place, kCaptionFlags, texts::kTempoLabel.toString()) |
        captionMetrics.boundingRect(kLabel1Place, kCaptionFlags, texts::kMeterLabel.toString());
    for (const std::string_view row : kMeterRows) {
        auto* item = new QListWidgetItem(qtext(row), List1);
        item->setData(Qt::UserRole, 0);  // every row carries 0; nothing reads it
    }

    connect(Command1, &QPushButton::clicked, this, &Form1::onStartStop);
    connect(Command2, &QPushButton::clicked, this, &QWidget::close);
    connect(List1, &QListWidget::itemSelectionChanged, this, &Form1::onMeterSelectionChanged);
    connect(Slider1, &QSlider::valueChanged, this, &Form1::onSliderMoved);
    connect(SpinButton1, &SpinButton::down, this, &Form1::onSpinDown);
    connect(SpinButton1, &SpinButton::up, this, &Form1::onSpinUp);
    connect(UpDown1, &UpDown::downClick, this, &Form1::refreshTempo);
    connect(UpDown1, &UpDown::upClick, this, &Form1::refreshTempo);
    connect(tempoKeys_, &TempoKeyFilter::entered, this, &Form1::commitTempoEntry);
    connect(&Hitime1, &TickTimer::tick, this, &Form1::onTick);
    Text1->installEventFilter(tempoKeys_);
    auto* mnemonics = new InstantMnemonic(this);
    Command1->installEventFilter(mnemonics);
    Command2->installEventFilter(mnemonics);

    setFixedSize(kClientSize);
    SpinButton1->setGeometry(kSpinButton1Place);
    List1->setGeometry(kList1Place);
    Text1->setGeometry(kText1Place);
    UpDown1->setGeometry(kUpDown1Place);
    Slider1->setGeometry(kSlider1Place);
    Command1->setGeometry(kCommand1Place);
    Command2->setGeometry(kCommand2Place);
    // The labels hold places in the order but never take the focus, so they are left out.
    setTabOrder(Command1, List1);
    setTabOrder(List1, Text1);
    setTabOrder(Text1, UpDown1);
    setTabOrder(UpDown1, Command2);
    setTabOrder(Command2, Slider1);
    setTabOrder(Slider1, SpinButton1);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kClientSize,
                                    screen()->availableGeometry()));

    setWindowTitle(texts::kCaption.toString());
    setWindowIcon(QPixmap::fromImage(pictureOf(resources_, kIconPictureId)));
    // Every paint covers the whole window with the background.
    setAttribute(Qt::WA_OpaquePaintEvent, !background_.isNull());
    Command1->setFont(buttonFont());
    Command2->setFont(buttonFont());
    List1->setFont(captionFont());
    Text1->setFont(captionFont());
    paintTanAndNavy(*List1);
    paintTanAndNavy(*Text1);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    Text1->setMaxLength(kTempoEntryLength);
    Text1->setAlignment(Qt::AlignCenter);
    {
        // Setting up the slider is no move of the user's: the tempo box keeps its text.
        const QScopedValueRollback guard(programMovesSlider_, true);
        Slider1->setRange(kMinTempo, kMaxTempo);
        Slider1->setValue(kMinTempo);
    }
    Slider1->setSingleStep(kUpDownStep);
    Slider1->setPageStep(kSliderPageStep);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(kSliderTickInterval);
    Slider1->setAccessibleName(texts::kTempoSliderName.toString());
    Text1->setAccessibleName(texts::kTempoBoxName.toString());
    List1->setAccessibleName(texts::kMeterListName.toString());
    SpinButton1->setAccessibleNames(texts::kSpinButtonName.toString(),
                                    texts::kSpinUpName.toString(), texts::kSpinDownName.toString());
    UpDown1->setAccessibleNames(texts::kUpDownName.toString(), texts::kUpDownUpName.toString(),
                                texts::kUpDownDownName.toString());
    Command1->setFocus();
}

Form1::~Form1() {
    // The controls outlive this part of the window: no signal of theirs may reach it now.
    for (QObject* child : children()) {
        child->disconnect(this);
    }
    silence();
}

void Form1::load() {
    bank_.loadClickSounds(resources_);
    if (const auto start = wholeNumberIn(Text1->text().toStdString())) {
        moveSlider(*start);
    }
    List1->setCurrentRow(1);
}

void Form1::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    silence();
    // A close let through by a tick's event pass must leave the window whole until that tick
    // has returned; the outermost tick deletes it then.
    if (ticksRunning_ > 0) {
        deleteAfterTicks_ = true;
    } else {
        deleteLater();
    }
}

void Form1::paintEvent(QPaintEvent* event) {
    // Only what the exposure needs: a pressed button repaints the form behind it before its
    // click is reported, so that repaint is on the way from Start to the first beat.
    const QRect area = event->rect();
    QPainter painter(this);
    if (background_.isNull()) {
        painter.fillRect(area, kTan);
    }
    background_.paint(painter, area);
    if (area.intersects(QRect(kImage1Place, Image1.size()))) {
        painter.drawPixmap(kImage1Place, Image1);
    }
    if (area.intersects(captionsArea_)) {
        painter.setFont(captionFont());
        painter.setPen(kNavy);
        painter.drawText(kLabel2Place, kCaptionFlags, texts::kTempoLabel.toString());
        painter.drawText(kLabel1Place, kCaptionFlags, texts::kMeterLabel.toString());
    }
}

void Form1::onTick() {
    ++ticksRunning_;
    engine_.onTick();
    --ticksRunning_;
    if (ticksRunning_ == 0 && deleteAfterTicks_) {
        deleteAfterTicks_ = false;
        deleteLater();
    }
}

void Form1::silence() {
    if (Hitime1.isEnabled()) {
        Hitime1.setEnabled(false);
        output_.stop(clock_.now());
    }
}

void Form1::onStartStop() {
    if (Command1->text() == texts::kStart) {
        Command1->setText(texts::kStop.toString());
        Hitime1.setInterval(beatInterval(tempo()));
        engine_.resetBar();
        Hitime1.setEnabled(true);
    } else {
        Hitime1.setEnabled(false);
        output_.stop(clock_.now());
        Command1->setText(texts::kStart.toString());
    }
}

void Form1::onMeterSelectionChanged() {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    engine_.selectMeter(selected.isEmpty() ? -1 : List1->row(selected.front()));
}

void Form1::onSliderMoved() {
    // Moves the handlers make themselves are followed by their own refresh, in their own order.
    if (!programMovesSlider_) {
        refreshTempo();
    }
}

void Form1::onSpinDown() {
    moveSlider(std::int64_t{tempo()} - kSpinStep);
    refreshTempo();
}

void Form1::onSpinUp() {
    moveSlider(std::int64_t{tempo()} + kSpinStep);
    refreshTempo();
}

void Form1::commitTempoEntry() {
    const std::optional<std::int64_t> entered = wholeNumberIn(Text1->text().toStdString());
    if (!entered) {
        // Empty, or pasted text that is no whole number: the tempo stays, and the box shows it.
        Text1->setText(qtext(tempoText(tempo())));
        return;
    }
    moveSlider(*entered);
    engine_.resetBar();
    if (*entered > kMaxTempo) {
        moveSlider(kMaxTempo);
    }
    if (*entered < kMinTempo) {
        moveSlider(kMinTempo);
    }
    Text1->setText(qtext(tempoText(tempo())));
    Hitime1.setInterval(beatInterval(tempo()));
}

void Form1::refreshTempo() {
    Hitime1.setInterval(beatInterval(tempo()));
    Text1->setText(qtext(tempoText(tempo())));
}

void Form1::moveSlider(std::int64_t position) {
    // The slider holds any position to its range; the narrowing to int must not wrap first.
    constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
    constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();
    const QScopedValueRollback guard(programMovesSlider_, true);
    Slider1->setValue(static_cast<int>(std::clamp(position, kIntMin, kIntMax)));
}

Tempo Form1::tempo() const {
    return Slider1->value();
}

}  // namespace vindelor
