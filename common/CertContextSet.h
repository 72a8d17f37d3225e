#pragma once
// An ordered list of certificate contexts, each holding a reference of its
// own (taken with CertDuplicateCertificateContext when it is appended).
#include <windows.h>
#include <wincrypt.h>

#include <vector>

using CertContextSet = std::vector<PCCERT_CONTEXT>;

// Releases every context and empties the list.
inline void RemoveAllCertificates(CertContextSet& set) {
    for (PCCERT_CONTEXT context : set)
        if (context) CertFreeCertificateContext(context);
    set.clear();
}
