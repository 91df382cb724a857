// CRegistryKey and the product key's read and write patterns, on the real registry of the Wine prefix.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>

#include "host/registry_key.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char kScratch[] = "SOFTWARE\\Yelvan\\RegistryKeyTest";
const wchar_t* const kProductKeyW = product::kProductKeyPathW;

// Reads a string value through an independent handle, to see which key an object holds.
std::wstring ValueOf(HKEY key, const wchar_t* name) {
    wchar_t buf[256] = {};
    DWORD bytes = sizeof buf - 2;
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &bytes)) return L"<none>";
    return buf;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* sub : {"A", "B"}) {
            CRegistryKey k;
            const std::string path = std::string(kScratch) + "\\" + sub;
            ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr), 0);
            ASSERT_EQ(k.SetValue(sub, "name"), 0);
        }
    }
    void TearDown() override { SHDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Yelvan\\RegistryKeyTest"); }
    static std::string Path(const char* sub) { return std::string(kScratch) + "\\" + sub; }
};

TEST_F(RegistryKeyTest, CloseOnAnEmptyObjectReturnsZero) {
    CRegistryKey k;
    EXPECT_EQ(k.Close(), 0);
    EXPECT_EQ(k.get(), nullptr);
    EXPECT_EQ(k.Close(), 0);
}

TEST_F(RegistryKeyTest, OpenAndCreateReplaceTheKeyOnSuccessAndKeepItOnFailure) {
    using Call = LONG (*)(CRegistryKey&, const std::string&);
    const struct {
        const char* name;
        Call call;
    } calls[] = {
        {"Open", [](CRegistryKey& k, const std::string& p) { return k.Open(HKEY_LOCAL_MACHINE, p.c_str(), KEY_ALL_ACCESS); }},
        {"Create", [](CRegistryKey& k, const std::string& p) {
             return k.Create(HKEY_LOCAL_MACHINE, p.c_str(), nullptr, 0, KEY_ALL_ACCESS, nullptr, nullptr);
         }},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        CRegistryKey k;
        ASSERT_EQ(c.call(k, Path("A")), 0);
        ASSERT_NE(k.get(), nullptr);
        EXPECT_EQ(ValueOf(k.get(), L"name"), L"A");

        EXPECT_EQ(c.call(k, Path("B")), 0);  // replaced; the result is that of closing A
        EXPECT_EQ(ValueOf(k.get(), L"name"), L"B");

        const HKEY held = k.get();
        ReadOnlyProductKey readOnly;  // refuses KEY_ALL_ACCESS to both calls
        ASSERT_TRUE(readOnly.ok());
        EXPECT_EQ(c.call(k, product::kProductKeyPath), ERROR_ACCESS_DENIED);
        EXPECT_EQ(k.get(), held);  // kept
        EXPECT_EQ(ValueOf(k.get(), L"name"), L"B");
    }
}

TEST_F(RegistryKeyTest, QueryValueReportsTheSizeAndRefusesAShortBuffer) {
    CRegistryKey k;
    ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, Path("A").c_str(), KEY_ALL_ACCESS), 0);
    ASSERT_EQ(k.SetValue("업데이트", "korean"), 0);
    char buf[32];
    DWORD n = sizeof buf;
    ASSERT_EQ(k.QueryValue(buf, "korean", &n), 0);
    EXPECT_EQ(n, 13u);  // 12 UTF-8 bytes and the zero
    EXPECT_STREQ(buf, "업데이트");
    n = 12;
    EXPECT_EQ(k.QueryValue(buf, "korean", &n), ERROR_MORE_DATA);
    n = sizeof buf;
    EXPECT_EQ(k.QueryValue(buf, "absent", &n), ERROR_FILE_NOT_FOUND);
    // Stored as UTF-16 with its terminator, as the wide registry API sees it.
    EXPECT_EQ(ValueOf(k.get(), L"korean"), L"업데이트");
    DWORD bytes = 0;
    RegQueryValueExW(k.get(), L"korean", nullptr, nullptr, nullptr, &bytes);
    EXPECT_EQ(bytes, 10u);
}

TEST_F(RegistryKeyTest, SetKeyValueCreatesTheSubKey) {
    CRegistryKey k;
    ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, Path("A").c_str(), KEY_ALL_ACCESS), 0);
    EXPECT_EQ(k.SetKeyValue("Sub Key", "text", "value"), 0);
    CRegistryKey sub;
    ASSERT_EQ(sub.Open(HKEY_LOCAL_MACHINE, Path("A\\Sub Key").c_str(), KEY_ALL_ACCESS), 0);
    EXPECT_EQ(ValueOf(sub.get(), L"value"), L"text");
    CRegistryKey empty;
    EXPECT_NE(empty.SetKeyValue("Sub", "text", "value"), 0);  // no key held: nothing to create it under
}

TEST_F(RegistryKeyTest, MovingTransfersTheKey) {
    CRegistryKey a;
    ASSERT_EQ(a.Open(HKEY_LOCAL_MACHINE, Path("A").c_str(), KEY_ALL_ACCESS), 0);
    CRegistryKey b(std::move(a));
    EXPECT_EQ(a.get(), nullptr);
    EXPECT_EQ(ValueOf(b.get(), L"name"), L"A");
    CRegistryKey c;
    ASSERT_EQ(c.Open(HKEY_LOCAL_MACHINE, Path("B").c_str(), KEY_ALL_ACCESS), 0);
    c = std::move(b);
    EXPECT_EQ(ValueOf(c.get(), L"name"), L"A");
}

TEST(ProductKey, TheFirstWriteCreatesAMissingKey) {
    DeleteProductKey();
    CString v;
    EXPECT_FALSE(ReadProductValue("InstallPath", kInstallPathChars, v));
    EXPECT_EQ(WriteProductValue("InstallPath", "C:\\설치 폴더"), 0);
    std::wstring got;
    EXPECT_TRUE(ReadHklmString(kProductKeyW, product::kInstallPathValueW, got));
    EXPECT_EQ(got, L"C:\\설치 폴더");
    ASSERT_TRUE(ReadProductValue("InstallPath", kInstallPathChars, v));
    EXPECT_EQ(v, "C:\\설치 폴더");
}

TEST(ProductKey, AValueThatDoesNotFitItsBufferCountsAsAbsent) {
    const struct {
        size_t chars;
        DWORD buffer;
        bool taken;
    } cases[] = {{258, 260, true}, {259, 260, true}, {260, 260, false}, {300, 260, false},
                 {1023, 1024, true}, {1024, 1024, false}, {0, 260, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.chars << " in " << c.buffer);
        const std::string text = std::string(c.chars, 'x');
        ASSERT_EQ(WriteProductValue("Probe", text.c_str()), 0);
        CString v = "before";
        EXPECT_EQ(ReadProductValue("Probe", c.buffer, v), c.taken);
        if (c.taken) EXPECT_EQ(v, text.c_str());
    }
    // Korean characters count as characters, not as bytes.
    std::string korean;
    for (int i = 0; i < 259; ++i) korean += "가";
    ASSERT_EQ(WriteProductValue("Probe", korean.c_str()), 0);
    CString v;
    EXPECT_TRUE(ReadProductValue("Probe", 260, v));
    DeleteHklmValue(kProductKeyW, L"Probe");
}

TEST(ProductKey, AKeyRefusingFullAccessReadsAsAbsentAndIsNotWritten) {
    ASSERT_EQ(WriteProductValue("InstallPath", "C:\\old"), 0);
    DeleteHklmValue(kProductKeyW, product::kUpdateFlagValueW);
    {
        ReadOnlyProductKey readOnly;
        ASSERT_TRUE(readOnly.ok());
        CString v;
        EXPECT_FALSE(ReadProductValue("InstallPath", kInstallPathChars, v));
        EXPECT_NE(WriteProductValue("InstallPath", "C:\\new"), 0);
        EXPECT_NE(WriteProductValue("Update_Flag", "YES"), 0);
    }
    std::wstring got;
    EXPECT_TRUE(ReadHklmString(kProductKeyW, product::kInstallPathValueW, got));
    EXPECT_EQ(got, L"C:\\old");
    EXPECT_FALSE(ReadHklmString(kProductKeyW, product::kUpdateFlagValueW, got));
}

}  // namespace
