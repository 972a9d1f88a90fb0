#include "dialogs/CDlgModel.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>

#include "dialogs/DialogUnits.h"
#include "resources/ids.h"

namespace ids = qv::ids;

namespace {

struct Line {
    int id;
    const char* text;
    int x, y, w, h;
};

// In group order: the index of a line is m_nModel.
constexpr Line kLines[] = {
    {ids::kModelLine0, "380A/B, 390A/B Series", 16, 14, 89, 13},
    {ids::kModelLine1, "360C Series", 117, 14, 52, 13},
    {ids::kModelLine2, "HN7700 Series", 189, 15, 61, 13},
};

}  // namespace

CDlgModel::CDlgModel(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select Model"));
    setProperty("ctrlId", ids::kDlgModel);
    const qv::DialogUnits du(qv::DialogUnits::DialogFont(8));
    du.ApplyTemplate(*this, 275, 63);

    ok_ = new QPushButton(QStringLiteral("OK"), this);
    qv::TagControl(*ok_, ids::kIdOk);
    du.Place(*ok_, 56, 42, 75, 14);
    ok_->setDefault(true);
    exit_ = new QPushButton(QStringLiteral("EXIT"), this);
    qv::TagControl(*exit_, ids::kIdCancel);
    du.Place(*exit_, 145, 42, 72, 14);
    connect(ok_, &QPushButton::clicked, this, &CDlgModel::OnOK);
    connect(exit_, &QPushButton::clicked, this, &QDialog::reject);

    // A frame only: made first so it lies under the radio buttons, and not their parent, so
    // all three stay one group.
    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("ctrlGroup"));
    du.Place(*frame, 7, 3, 261, 31);
    frame->lower();

    lines_ = new QButtonGroup(this);
    for (std::size_t i = 0; i < std::size(kLines); ++i) {
        const Line& line = kLines[i];
        auto* radio = new QRadioButton(QString::fromLatin1(line.text), this);
        qv::TagControl(*radio, line.id);
        du.Place(*radio, line.x, line.y, line.w, line.h);
        lines_->addButton(radio, static_cast<int>(i));
    }
    setTabOrder(ok_, exit_);
    setTabOrder(exit_, lines_->button(0));
}

void CDlgModel::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        OnInitDialog();
    }
    QDialog::showEvent(event);
    ok_->setFocus(Qt::OtherFocusReason);
}

void CDlgModel::OnInitDialog() {
    QAbstractButton* line = lines_->button(m_nModel);
    if (line != nullptr) {
        line->setChecked(true);
    } else if (QAbstractButton* checked = lines_->checkedButton()) {
        // No valid index: no line is checked, as the creator asked.
        lines_->setExclusive(false);
        checked->setChecked(false);
        lines_->setExclusive(true);
    }
}

void CDlgModel::OnOK() {
    m_nModel = lines_->checkedId();
    accept();
}
