#include "panels/softkey/CReplayBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include "resources/ids.h"

namespace {

QString CtrlName(int id) {
    return QStringLiteral("ctrl%1").arg(id);
}

}  // namespace

CReplayBar::CReplayBar(QWidget* parent)
    : QWidget(parent),
      player_(new ReplayPlayer(this)),
      slider_(new QSlider(Qt::Horizontal, this)),
      speedLabel_(new QLabel(QStringLiteral("1X"), this)),
      stateLabel_(new QLabel(this)) {
    namespace ids = qv::ids;
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);

    auto* open = AddButton(ids::kReplayOpen, QStringLiteral("Replay Open"));
    auto* slower = AddButton(ids::kReplaySlower, QString::fromUtf8("◀◀"));
    auto* stop = AddButton(ids::kReplayStop, QString::fromUtf8("■"));
    auto* play = AddButton(ids::kReplayPlay, QString::fromUtf8("▶"));
    auto* faster = AddButton(ids::kReplayFaster, QString::fromUtf8("▶▶"));

    // The label sits on the panel's skin.
    speedLabel_->setObjectName(CtrlName(ids::kReplaySpeedLabel));
    speedLabel_->setAutoFillBackground(false);
    speedLabel_->setAttribute(Qt::WA_TranslucentBackground);
    speedLabel_->setMinimumWidth(
        speedLabel_->fontMetrics().horizontalAdvance(QStringLiteral("4X")) + 4);
    layout->addWidget(speedLabel_);

    slider_->setObjectName(CtrlName(ids::kReplaySlider));
    slider_->setRange(0, 0);
    layout->addWidget(slider_, 1);

    stateLabel_->setText(tr("No folder"));
    layout->addWidget(stateLabel_);
    auto* exportVideo = AddButton(ids::kReplayExport, QStringLiteral("Export video\u2026"));

    connect(open, &QPushButton::clicked, player_, &ReplayPlayer::Open);
    connect(slower, &QPushButton::clicked, player_, &ReplayPlayer::Slower);
    connect(stop, &QPushButton::clicked, player_, &ReplayPlayer::Stop);
    connect(play, &QPushButton::clicked, player_, &ReplayPlayer::Play);
    connect(faster, &QPushButton::clicked, player_, &ReplayPlayer::Faster);
    connect(exportVideo, &QPushButton::clicked, this,
            [this] { emit exportRequested(QString::fromStdString(player_->folder())); });

    // Only the user's moves seek; the player's own position updates are blocked below.
    connect(slider_, &QSlider::valueChanged, player_, &ReplayPlayer::SeekTo);
    connect(slider_, &QSlider::sliderReleased, this, [this] { player_->SeekTo(slider_->value()); });

    connect(player_, &ReplayPlayer::sliderRangeChanged, this, [this](int minimum, int maximum) {
        const QSignalBlocker block(slider_);
        slider_->setRange(minimum, maximum);
        UpdateEnabled();
    });
    connect(player_, &ReplayPlayer::sliderPositionChanged, this, [this](int position) {
        const QSignalBlocker block(slider_);
        slider_->setValue(position);
    });
    connect(player_, &ReplayPlayer::speedLabelChanged, speedLabel_, &QLabel::setText);
    connect(player_, &ReplayPlayer::stateText, stateLabel_, &QLabel::setText);
    connect(player_, &ReplayPlayer::playingChanged, this, [this](bool playing) {
        if (playing) {
            emit startedPlaying();
        }
    });

    UpdateEnabled();
    setFixedHeight(sizeHint().height());
}

CReplayBar::~CReplayBar() = default;

QPushButton* CReplayBar::AddButton(int id, const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(CtrlName(id));
    button->setFocusPolicy(Qt::NoFocus);
    layout()->addWidget(button);
    return button;
}

void CReplayBar::UpdateEnabled() {
    const bool haveFrames = !player_->frames().empty();
    slider_->setEnabled(haveFrames);
    if (auto* play = findChild<QPushButton*>(CtrlName(qv::ids::kReplayPlay))) {
        play->setEnabled(haveFrames);
    }
    if (auto* exportVideo = findChild<QPushButton*>(CtrlName(qv::ids::kReplayExport))) {
        exportVideo->setEnabled(!player_->folder().empty());
    }
}

void CReplayBar::StopPlayback() {
    player_->Stop();
}
