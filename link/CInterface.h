// The engine's TCP transport: a client socket plus the link method the engine set.
#pragma once

#include "link/CSocketComm.h"

namespace qv {

class CInterface : public CSocketComm {
  public:
    CInterface() = default;
    ~CInterface() override;

    // 1 = TCP over IPv4, 3 = TCP over IPv6; frames go out only for these.
    int method = 1;
};

}  // namespace qv
