#pragma once
// A certificate authority among the machine's trusted roots for as long as
// the object lives: the prefix is shared by every test, so it is removed
// again in the destructor.
#include "framework/WinHandle.h"

#include <string>
#include <vector>

namespace testing_support {

class TrustedRoot {
public:
    // `der`: the CA certificate's DER bytes.
    explicit TrustedRoot(const std::vector<BYTE>& der);
    ~TrustedRoot();
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;

    bool Added() const { return m_added; }

private:
    std::vector<BYTE> m_der;
    bool m_added = false;
};

}  // namespace testing_support
