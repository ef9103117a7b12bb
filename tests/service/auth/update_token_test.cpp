// Update tokens: random, URL-safe, and matched only by their own digest
// under the key it was made with.
#include <gtest/gtest.h>

#include <set>

#include "service/auth/update_token.h"

using namespace service;

namespace {

TEST(UpdateTokenTest, OnlyTheTokenAndKeyADigestWasMadeWithMatchIt) {
    const std::string key(64, 'a');
    const std::string other(64, 'b');
    std::set<std::string> tokens;
    for (int i = 0; i < 100; ++i) {
        tokens.insert(NewUpdateToken());
    }
    EXPECT_EQ(tokens.size(), 100u);
    const std::string token = *tokens.begin();
    EXPECT_EQ(token.size(), 32u);
    const std::string digest = TokenDigest(token, key);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find(token), std::string::npos);
    EXPECT_TRUE(TokenMatches(token, digest, key));
    EXPECT_FALSE(TokenMatches(*tokens.rbegin(), digest, key));
    EXPECT_FALSE(TokenMatches(token, digest, other));
    EXPECT_FALSE(TokenMatches(token, digest.substr(2), key));
    EXPECT_FALSE(TokenMatches(token, "", key));
    EXPECT_EQ(TokenDigest(token, "not hex"), "");
    EXPECT_FALSE(TokenMatches(token, digest, "not hex"));
}

}  // namespace
