// Constructors and Clear of the key and certificate records. Copies and
// destruction are the members' own: every string and list is held by value.
#include "CustomSKFInterface.h"

SKFUserCertInfo::SKFUserCertInfo() { Clear(); }

void SKFUserCertInfo::Clear() {
    wstrSubject.clear();
    wstrSubjectCN.clear();
    wstrIssuer.clear();
    wstrSerialNumber.clear();
    wstrDisplayName.clear();
    wstrContainerName.clear();
    ftNotBefore = FILETIME{0, 0};
    ftNotAfter = FILETIME{0, 0};
    dwDaysLeft = 0;
    dwStatus = 0;
    dwKeyBits = 0;
    dwSMCert = 0;
    dwFilled = 0;
    dwSignCert = 0;
}

SKFUserKeyInfo::SKFUserKeyInfo() { Clear(); }

void SKFUserKeyInfo::Clear() {
    wstrSerialNumber.clear();
    wstrDeviceName.clear();
    dwReserved1 = 0;
    dwReserved2 = 0;
    dwPINNotDefault = 0;
    dwPINNotLocked = 0;
    dwCertFound = 0;
    dwReserved3 = 0;
    dwReserved4 = 0;
    vetCertInfo.clear();
}

SKFUserCSPInfo::SKFUserCSPInfo() { Clear(); }

void SKFUserCSPInfo::Clear() {
    dwReserved = 0;
    wstrReserved.clear();
    vetKeyInfo.clear();
}

SKFUserCSPInfoSet::SKFUserCSPInfoSet() = default;

void SKFUserCSPInfoSet::Clear() { vetCSPInfo.clear(); }

ContainerObjInfo::ContainerObjInfo() { Clear(); }

void ContainerObjInfo::Clear() {
    dwContainerType = SKF_CONTAINER_NO_SIGN_KEY;
    wstrContainerName.clear();
    strSignCert.clear();
    strEncCert.clear();
}

DeviceObjInfo::DeviceObjInfo() { Clear(); }

void DeviceObjInfo::Clear() {
    wstrProviderName.clear();
    wstrModulePath.clear();
    wstrDeviceName.clear();
    wstrLabel.clear();
    wstrSerialNumber.clear();
    dwMaxRetryCount = 0;
    dwRemainRetryCount = 0;
    dwPINState = 0;
    vetContainers.clear();
}

void ClearSKFUserKeyInfoSet(std::vector<SKFUserKeyInfo>& keyInfoSet) {
    for (SKFUserKeyInfo& key : keyInfoSet) key.vetCertInfo.clear();
    keyInfoSet.clear();
}

void ClearSKFUserCSPInfoSet(SKFUserCSPInfoSet& cspInfoSet) {
    for (SKFUserCSPInfo& csp : cspInfoSet.vetCSPInfo) ClearSKFUserKeyInfoSet(csp.vetKeyInfo);
    cspInfoSet.vetCSPInfo.clear();
}
