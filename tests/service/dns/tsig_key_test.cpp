// The TSIG key file: read as tsig-keygen writes it, refused when others may
// read it or when it holds no usable key.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "service/dns/tsig_key.h"
#include "support/temp_dir.h"

using namespace service;
using testsupport::TempDir;

namespace {

constexpr const char* kSecret = "c2VjcmV0IG9mIGF0IGxlYXN0IHRoaXJ0eS10d28gYnl0ZXMh";

class TsigKeyTest : public ::testing::Test {
protected:
    // A key file with text, private unless mode says otherwise.
    std::string KeyFile(const std::string& text, mode_t mode = 0600) {
        const std::string path = dir.File("key.conf");
        testsupport::WriteFile(path, text);
        chmod(path.c_str(), mode);
        return path;
    }
    static std::string Key(const std::string& name, const std::string& algorithm,
                           const std::string& secret) {
        return "key \"" + name + "\" {\n\talgorithm " + algorithm + ";\n\tsecret \"" + secret +
               "\";\n};\n";
    }
    TempDir dir;
    TsigKey key;
    std::string error;
};

TEST_F(TsigKeyTest, AKeyFileAsTsigKeygenWritesIt) {
    ASSERT_TRUE(ReadTsigKey(KeyFile(Key("kestrome.example", "HMAC-SHA512", kSecret)), key, error))
        << error;
    EXPECT_EQ(key.name, "kestrome.example");
    EXPECT_EQ(key.algorithm, "hmac-sha512");
    EXPECT_EQ(key.secret, kSecret);
}

TEST_F(TsigKeyTest, AFileOthersMayReadOrWithoutAUsableKeyIsRefusedInWords) {
    const struct {
        std::string text;
        mode_t mode;
        std::string says;
    } cases[] = {
        {Key("k", "hmac-sha256", kSecret), 0640, "chmod 600"},
        {Key("k", "hmac-sha256", kSecret), 0604, "chmod 600"},
        {Key("k", "hmac-md5", kSecret), 0600, "unknown algorithm hmac-md5"},
        {Key("k", "hmac-sha256", "not base64!"), 0600, "no usable name or secret"},
        {Key("bad name", "hmac-sha256", kSecret), 0600, "no usable name or secret"},
        {"algorithm hmac-sha256; secret \"" + std::string(kSecret) + "\";", 0600,
         "is not a TSIG key file"},
        {std::string(70000, 'k'), 0600, "more than 64 KiB"},
    };
    for (const auto& c : cases) {
        error.clear();
        EXPECT_FALSE(ReadTsigKey(KeyFile(c.text, c.mode), key, error)) << c.text.substr(0, 40);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    EXPECT_FALSE(ReadTsigKey(dir.File("absent"), key, error));
    EXPECT_NE(error.find("cannot read the key file"), std::string::npos) << error;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadTsigKey(dir.File("fifo"), key, error)) << "a FIFO is refused, not waited on";
    EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
}

// Comments are skipped as name servers skip them, outside quotes only: a key
// written out in a comment is no key.
TEST_F(TsigKeyTest, CommentsAreSkippedOutsideQuotes) {
    const std::string text =
        "# key \"hash\" { algorithm hmac-md5; secret \"AAAA\"; };\n"
        "// key \"slashes\" {\n"
        "/* key \"block\" { algorithm hmac-sha512;\n secret \"AAAA\"; }; */\n"
        "key \"kestrome\" { algorithm hmac-sha256; # the algorithm\n"
        "  secret \"AAAA//8=\"; // the secret\n};\n";
    ASSERT_TRUE(ReadTsigKey(KeyFile(text), key, error)) << error;
    EXPECT_EQ(key.name, "kestrome");
    EXPECT_EQ(key.algorithm, "hmac-sha256");
    EXPECT_EQ(key.secret, "AAAA//8=");
}

TEST_F(TsigKeyTest, AKeyFileOfAnotherUserIsRefused) {
    const std::string path = KeyFile(Key("k", "hmac-sha256", kSecret));
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another user";
    }
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(ReadTsigKey(path, key, error));
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
}

}  // namespace
