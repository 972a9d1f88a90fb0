#include "widgets/CRemoteDlg.h"

CRemoteDlg::CRemoteDlg(int templateId, QWidget* parent)
    : QDialog(parent), templateId_(templateId) {}

CRemoteDlg::~CRemoteDlg() = default;

// By value as the panels take it: they move it on to the session.
void CRemoteDlg::SendKey(std::string /*text*/) {}  // NOLINT(performance-unnecessary-value-param)
