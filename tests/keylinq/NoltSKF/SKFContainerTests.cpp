// Containers through Keylinq.dll against the virtual key: create, list,
// open, delete, the name rules, a fresh container's answers, and handles
// of deleted containers.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "KeylinqLibrary.h"
#include "SKFTestSupport.h"

namespace {

constexpr uint8_t INS_CREATE_CONTAINER = 0x40;
constexpr uint8_t INS_OPEN_CONTAINER = 0x4A;

class SKFContainers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(0, k.missing);
        ASSERT_EQ(SAR_OK, key.Open());
        ASSERT_EQ(SAR_OK, key.Verify(DEFAULT_USER_PIN));
    }
    void TearDown() override { SetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", nullptr); }

    ULONG Create(const std::string& name, HCONTAINER* h) {
        std::string text = name;
        return k.SKF_CreateContainer(key.app, &text[0], h);
    }
    ULONG OpenC(const std::string& name, HCONTAINER* h) {
        std::string text = name;
        return k.SKF_OpenContainer(key.app, &text[0], h);
    }
    ULONG Delete(const std::string& name) {
        std::string text = name;
        return k.SKF_DeleteContainer(key.app, &text[0]);
    }
    std::vector<std::string> List() {
        ULONG size = 0;
        EXPECT_EQ(SAR_OK, k.SKF_EnumContainer(key.app, nullptr, &size));
        std::vector<char> list(size + 1, 'x');
        EXPECT_EQ(SAR_OK, k.SKF_EnumContainer(key.app, list.data(), &size));
        return SplitNameList(list.data(), size);
    }

    KeylinqLibrary& k = Keylinq();
    VirtualKeyControl control;
    KeySession<KeylinqLibrary> key{k, control, AddFreshKey(control)};
};

TEST_F(SKFContainers, CreateListOpenDelete) {
    ULONG size = 99;
    char list[64];
    memset(list, 'x', sizeof list);
    ASSERT_EQ(SAR_OK, k.SKF_EnumContainer(key.app, list, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ('x', list[0]);  // nothing written, not even a NUL

    HCONTAINER first = nullptr, second = nullptr;
    ASSERT_EQ(SAR_OK, Create("first", &first));
    ASSERT_NE(nullptr, first);
    ASSERT_EQ(SAR_OK, Create("second", &second));
    size = 0;
    ASSERT_EQ(SAR_OK, k.SKF_EnumContainer(key.app, nullptr, &size));
    EXPECT_EQ(14u, size);
    size = 13;
    EXPECT_EQ(SAR_BUFFER_TOO_SMALL, k.SKF_EnumContainer(key.app, list, &size));
    EXPECT_EQ(14u, size);
    ASSERT_EQ(SAR_OK, k.SKF_EnumContainer(key.app, list, &size));
    EXPECT_EQ(0, memcmp(list, "first\0second\0\0", 14));

    HCONTAINER again = nullptr;
    ASSERT_EQ(SAR_OK, OpenC("first", &again));
    EXPECT_NE(first, again);
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(again));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_CloseContainer(again));
    EXPECT_EQ(SAR_INVALIDHANDLEERR, k.SKF_CloseContainer(nullptr));
    again = reinterpret_cast<HCONTAINER>(0x99);
    EXPECT_NE(SAR_OK, OpenC("third", &again));
    EXPECT_EQ(reinterpret_cast<HCONTAINER>(0x99), again);

    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(second));
    ASSERT_EQ(SAR_OK, Delete("second"));
    EXPECT_EQ(std::vector<std::string>{"first"}, List());
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(first));
}

TEST_F(SKFContainers, NamesOf39CharactersPassAnd40AreRefusedBeforeTheKey) {
    const std::string name39(39, 'n');
    const std::string name40(40, 'n');
    HCONTAINER h = nullptr;
    ASSERT_EQ(SAR_OK, Create(name39, &h));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
    ASSERT_EQ(SAR_OK, OpenC(name39, &h));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
    EXPECT_EQ(std::vector<std::string>{name39}, List());
    key.ClearRecord();
    EXPECT_EQ(SAR_NAMELENERR, Create(name40, &h));
    EXPECT_EQ(SAR_NAMELENERR, OpenC(name40, &h));
    EXPECT_EQ(SAR_NAMELENERR, Delete(name40));
    EXPECT_TRUE(key.Record().empty());
    EXPECT_EQ(SAR_OK, Delete(name39));
}

TEST_F(SKFContainers, HashTwoMakesTheNameWithoutIt) {
    HCONTAINER single = nullptr;
    ASSERT_EQ(SAR_OK, Create("abc#2", &single));
    EXPECT_EQ(std::vector<std::string>{"abc"}, List());
    HCONTAINER plain = nullptr;
    ASSERT_EQ(SAR_OK, OpenC("abc", &plain));
    HCONTAINER none = nullptr;
    EXPECT_NE(SAR_OK, OpenC("abc#2", &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(plain));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(single));
}

TEST_F(SKFContainers, AFreshContainerHasNoTypeKeysOrCertificates) {
    HCONTAINER h = nullptr;
    ASSERT_EQ(SAR_OK, Create("fresh", &h));
    ULONG type = 0xAB;
    EXPECT_EQ(SAR_KEYINFOTYPEERR, k.SKF_GetContainerType(h, &type));
    EXPECT_EQ(0u, type);
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_GetContainerType(h, nullptr));
    BYTE cert[16] = {0x30};
    EXPECT_EQ(SAR_KEYNOTFOUNTERR, k.SKF_ImportCertificate(h, TRUE, cert, sizeof cert));
    EXPECT_EQ(SAR_KEYNOTFOUNTERR, k.SKF_ImportCertificate(h, FALSE, cert, sizeof cert));
    // An empty container holds no certificate of either kind: that is how
    // callers tell a half-made container.
    ULONG len = 0;
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, k.SKF_ExportCertificate(h, TRUE, nullptr, &len));
    EXPECT_EQ(SAR_CERTNOTFOUNTERR, k.SKF_ExportCertificate(h, FALSE, nullptr, &len));
    EXPECT_EQ(SAR_INVALIDPARAMERR, k.SKF_ExportCertificate(h, FALSE, nullptr, nullptr));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(h));
}

TEST_F(SKFContainers, ACreateWhoseOpenFailsLeavesNoContainer) {
    ASSERT_EQ(0u, control.ForceReply(key.KeyId(), INS_OPEN_CONTAINER, 0x6A88));
    HCONTAINER h = nullptr;
    EXPECT_NE(SAR_OK, Create("halfmade", &h));
    EXPECT_EQ(nullptr, h);
    EXPECT_TRUE(List().empty());
}

TEST_F(SKFContainers, AHandleOfADeletedContainerNeverReachesItsSuccessor) {
    HCONTAINER stale = nullptr;
    ASSERT_EQ(SAR_OK, Create("old", &stale));
    ASSERT_EQ(SAR_OK, Delete("old"));
    HCONTAINER successor = nullptr;
    ASSERT_EQ(SAR_OK, Create("new", &successor));  // takes the freed slot on the key
    ULONG type = 0;
    ULONG len = 0;
    BYTE cert[16] = {0x30};
    EXPECT_EQ(SAR_CONTAINER_NOT_EXISTS, k.SKF_GetContainerType(stale, &type));
    EXPECT_EQ(SAR_CONTAINER_NOT_EXISTS, k.SKF_ExportCertificate(stale, TRUE, nullptr, &len));
    EXPECT_EQ(SAR_CONTAINER_NOT_EXISTS, k.SKF_ImportCertificate(stale, TRUE, cert, sizeof cert));
    // Reopening the same name later gives a working handle again.
    EXPECT_EQ(SAR_KEYINFOTYPEERR, k.SKF_GetContainerType(successor, &type));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(stale));
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(successor));
}

TEST_F(SKFContainers, CloseContainerTakesNoDeviceMutex) {
    HCONTAINER closing = nullptr, probe = nullptr;
    ASSERT_EQ(SAR_OK, Create("closing", &closing));
    ASSERT_EQ(SAR_OK, OpenC("closing", &probe));
    HeldDevice<KeylinqLibrary> held(k, key.dev);
    SetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", L"300");
    ULONG type = 0;
    EXPECT_EQ(SAR_TIMEOUTERR, k.SKF_GetContainerType(probe, &type));  // the key is held
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(closing));
    held.Release();
    SetEnvironmentVariableW(L"KEYLINQ_TEST_MUTEX_TIMEOUT_MS", nullptr);
    EXPECT_EQ(SAR_OK, k.SKF_CloseContainer(probe));
}

}  // namespace
