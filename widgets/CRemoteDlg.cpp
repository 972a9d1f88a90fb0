#include "widgets/CRemoteDlg.h"

CRemoteDlg::CRemoteDlg(int templateId, QWidget* parent)
    : QDialog(parent), templateId_(templateId) {}

CRemoteDlg::~CRemoteDlg() = default;

void CRemoteDlg::SendKey(std::string /*text*/) {}

void CRemoteDlg::OnResponseReady(int /*flag*/) {}
