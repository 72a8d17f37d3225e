// Key and certificate records: deep copies, Clear and the set clearing.
#include <gtest/gtest.h>

#include "CustomSKFInterface.h"

namespace {

SKFUserCertInfo Cert(int i) {
    SKFUserCertInfo c;
    c.wstrSubject = L"CN=User " + std::to_wstring(i) + L", O=Test";
    c.wstrSubjectCN = L"CN=User " + std::to_wstring(i);
    c.wstrIssuer = L"CN=Issuer";
    c.wstrSerialNumber = L"0A1B" + std::to_wstring(i);
    c.wstrDisplayName = c.wstrSubjectCN + L", SN=" + c.wstrSerialNumber;
    c.wstrContainerName = L"Container" + std::to_wstring(i);
    c.ftNotBefore = {1u + i, 2u};
    c.ftNotAfter = {3u, 4u + i};
    c.dwDaysLeft = 30;
    c.dwStatus = 2;
    c.dwKeyBits = 256;
    c.dwSMCert = 1;
    c.dwFilled = 1;
    c.dwSignCert = i % 2;
    return c;
}

SKFUserKeyInfo Key(int i, int certs) {
    SKFUserKeyInfo k;
    k.wstrSerialNumber = L"SN" + std::to_wstring(i);
    k.wstrDeviceName = L"Device" + std::to_wstring(i);
    k.dwPINNotDefault = 1;
    k.dwPINNotLocked = 1;
    k.dwCertFound = certs ? 1 : 0;
    for (int c = 0; c < certs; ++c) k.vetCertInfo.push_back(Cert(10 * i + c));
    return k;
}

bool SameCert(const SKFUserCertInfo& a, const SKFUserCertInfo& b) {
    return a.wstrSubject == b.wstrSubject && a.wstrSubjectCN == b.wstrSubjectCN && a.wstrIssuer == b.wstrIssuer &&
           a.wstrSerialNumber == b.wstrSerialNumber && a.wstrDisplayName == b.wstrDisplayName &&
           a.wstrContainerName == b.wstrContainerName && a.ftNotBefore.dwLowDateTime == b.ftNotBefore.dwLowDateTime &&
           a.ftNotBefore.dwHighDateTime == b.ftNotBefore.dwHighDateTime &&
           a.ftNotAfter.dwLowDateTime == b.ftNotAfter.dwLowDateTime &&
           a.ftNotAfter.dwHighDateTime == b.ftNotAfter.dwHighDateTime && a.dwDaysLeft == b.dwDaysLeft &&
           a.dwStatus == b.dwStatus && a.dwKeyBits == b.dwKeyBits && a.dwSMCert == b.dwSMCert &&
           a.dwFilled == b.dwFilled && a.dwSignCert == b.dwSignCert;
}

void ExpectClearedCert(const SKFUserCertInfo& c) {
    EXPECT_TRUE(SameCert(c, SKFUserCertInfo()));
    EXPECT_TRUE(c.wstrSubject.empty() && c.wstrSubjectCN.empty() && c.wstrIssuer.empty() &&
                c.wstrSerialNumber.empty() && c.wstrDisplayName.empty() && c.wstrContainerName.empty());
    const DWORD ints[] = {c.ftNotBefore.dwLowDateTime, c.ftNotBefore.dwHighDateTime, c.ftNotAfter.dwLowDateTime,
                          c.ftNotAfter.dwHighDateTime, c.dwDaysLeft, c.dwStatus, c.dwKeyBits, c.dwSMCert,
                          c.dwFilled, c.dwSignCert};
    for (DWORD v : ints) EXPECT_EQ(v, 0u);
}

TEST(Records, FreshRecordsAreCleared) {
    ExpectClearedCert(SKFUserCertInfo());
    const SKFUserKeyInfo k;
    EXPECT_TRUE(k.wstrSerialNumber.empty() && k.wstrDeviceName.empty() && k.vetCertInfo.empty());
    EXPECT_EQ(k.dwReserved1 | k.dwReserved2 | k.dwPINNotDefault | k.dwPINNotLocked | k.dwCertFound | k.dwReserved3 |
                  k.dwReserved4,
              0u);
    const SKFUserCSPInfo csp;
    EXPECT_EQ(csp.dwReserved, 0u);
    EXPECT_TRUE(csp.wstrReserved.empty() && csp.vetKeyInfo.empty());
    const ContainerObjInfo container;
    EXPECT_EQ(container.dwContainerType, 0u);
    EXPECT_TRUE(container.wstrContainerName.empty() && container.strSignCert.empty() && container.strEncCert.empty());
    const DeviceObjInfo dev;
    EXPECT_TRUE(dev.wstrProviderName.empty() && dev.wstrModulePath.empty() && dev.wstrDeviceName.empty() &&
                dev.wstrLabel.empty() && dev.wstrSerialNumber.empty() && dev.vetContainers.empty());
    EXPECT_EQ(dev.dwMaxRetryCount | dev.dwRemainRetryCount | dev.dwPINState, 0u);
}

TEST(Records, ClearOfACertificateEmptiesItsStringsAndZeroesItsIntegers) {
    SKFUserCertInfo c = Cert(3);
    EXPECT_EQ(c.dwFilled, 1u);
    c.Clear();
    ExpectClearedCert(c);
    EXPECT_EQ(c.dwFilled, 0u);
}

TEST(Records, ClearingACopiedKeyLeavesTheSourceIntact) {
    const SKFUserKeyInfo source = Key(1, 3);
    SKFUserKeyInfo copy(source);
    copy.vetCertInfo[0].wstrDisplayName += L" changed";
    copy.Clear();
    EXPECT_TRUE(copy.vetCertInfo.empty() && copy.wstrSerialNumber.empty() && copy.dwPINNotLocked == 0);
    const SKFUserKeyInfo expected = Key(1, 3);
    ASSERT_EQ(source.vetCertInfo.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(SameCert(source.vetCertInfo[i], expected.vetCertInfo[i]));
    EXPECT_EQ(source.wstrSerialNumber, L"SN1");
    EXPECT_EQ(source.dwCertFound, 1u);

    SKFUserCertInfo assigned;
    assigned = source.vetCertInfo[1];
    assigned.Clear();
    EXPECT_TRUE(SameCert(source.vetCertInfo[1], expected.vetCertInfo[1]));
}

TEST(Records, DeviceAndContainerCopiesAreDeep) {
    DeviceObjInfo dev;
    dev.wstrDeviceName = L"Key1";
    dev.dwPINState = SKF_PIN_STATE_DEFAULT;
    ContainerObjInfo c;
    c.dwContainerType = SKF_CONTAINER_SM2;
    c.wstrContainerName = L"C1";
    c.strSignCert = "MIIB";
    dev.vetContainers.push_back(c);
    DeviceObjInfo copy(dev);
    copy.vetContainers[0].Clear();
    EXPECT_EQ(copy.vetContainers[0].dwContainerType, 0u);
    EXPECT_TRUE(copy.vetContainers[0].strSignCert.empty());
    EXPECT_EQ(dev.vetContainers[0].strSignCert, "MIIB");
    copy.Clear();
    EXPECT_TRUE(copy.vetContainers.empty() && copy.wstrDeviceName.empty() && copy.dwPINState == 0);
    EXPECT_EQ(dev.wstrDeviceName, L"Key1");
}

TEST(Records, SetsClearToEmpty) {
    SKFUserCSPInfoSet set;
    for (int lib = 0; lib < 2; ++lib) {
        SKFUserCSPInfo csp;
        for (int k = 0; k < 3; ++k) csp.vetKeyInfo.push_back(Key(10 * lib + k, 2));
        set.vetCSPInfo.push_back(csp);
    }
    const SKFUserCSPInfoSet kept(set);
    ClearSKFUserCSPInfoSet(set);
    EXPECT_TRUE(set.vetCSPInfo.empty());
    ASSERT_EQ(kept.vetCSPInfo.size(), 2u);
    EXPECT_EQ(kept.vetCSPInfo[1].vetKeyInfo[2].vetCertInfo.size(), 2u);

    std::vector<SKFUserKeyInfo> keys = kept.vetCSPInfo[0].vetKeyInfo;
    ClearSKFUserKeyInfoSet(keys);
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(kept.vetCSPInfo[0].vetKeyInfo.size(), 3u);
}

}  // namespace
