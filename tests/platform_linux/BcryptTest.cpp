// The hash calls (bcrypt.cpp): SHA-256 against the published test vectors,
// and the refusals the system answers with.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "win32.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  std::string text;
  char pair[3];
  for (size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof(pair), "%02x", bytes[i]);
    text += pair;
  }
  return text;
}

class HashCalls : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
              STATUS_SUCCESS);
  }
  void TearDown() override {
    EXPECT_EQ(BCryptCloseAlgorithmProvider(algorithm, 0), STATUS_SUCCESS);
  }
  BCRYPT_HASH_HANDLE NewHash(ULONG flags) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    EXPECT_EQ(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, flags), STATUS_SUCCESS);
    return hash;
  }
  std::string Digest(BCRYPT_HASH_HANDLE hash, const std::string& text, size_t pieces = 1) {
    size_t step = text.empty() ? 1 : (text.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < text.size(); at += step) {
      size_t length = std::min(step, text.size() - at);
      EXPECT_EQ(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(text.data() + at)),
                               static_cast<ULONG>(length), 0),
                STATUS_SUCCESS);
    }
    uint8_t digest[32];
    EXPECT_EQ(BCryptFinishHash(hash, digest, sizeof(digest), 0), STATUS_SUCCESS);
    return Hex(digest, sizeof(digest));
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
};

struct Vector {
  const char* name;
  std::string text;
  size_t pieces;
  const char* digest;
};
void PrintTo(const Vector& v, std::ostream* out) { *out << v.name; }

class HashVectors : public HashCalls, public testing::WithParamInterface<Vector> {};

// The test vectors published with the SHA-256 standard, fed whole and in
// uneven pieces.
TEST_P(HashVectors, MatchThePublishedDigest) {
  BCRYPT_HASH_HANDLE hash = NewHash(0);
  EXPECT_EQ(Digest(hash, GetParam().text, GetParam().pieces), GetParam().digest);
  EXPECT_EQ(BCryptDestroyHash(hash), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Sha256, HashVectors,
    testing::Values(
        Vector{"empty", "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        Vector{"abc", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        Vector{"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 5,
               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        Vector{"a million a", std::string(1000000, 'a'), 7,
               "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}));

TEST_F(HashCalls, AReusableHashStartsOverAfterEachFinish) {
  BCRYPT_HASH_HANDLE hash = NewHash(BCRYPT_HASH_REUSABLE_FLAG);
  std::string first = Digest(hash, "abc");
  EXPECT_EQ(Digest(hash, "abc"), first);
  EXPECT_EQ(Digest(hash, ""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  BCryptDestroyHash(hash);
}

TEST_F(HashCalls, AFinishedHashWithoutTheReusableFlagTakesNothingMore) {
  BCRYPT_HASH_HANDLE hash = NewHash(0);
  Digest(hash, "abc");
  UCHAR byte = 'x';
  uint8_t digest[32];
  EXPECT_EQ(BCryptHashData(hash, &byte, 1, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptFinishHash(hash, digest, sizeof(digest), 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptDestroyHash(hash), STATUS_SUCCESS);
}

TEST_F(HashCalls, TheOutputMustBeExactlyTheDigestLength) {
  BCRYPT_HASH_HANDLE hash = NewHash(BCRYPT_HASH_REUSABLE_FLAG);
  uint8_t digest[64];
  EXPECT_EQ(BCryptFinishHash(hash, digest, 31, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(BCryptFinishHash(hash, digest, 64, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(BCryptFinishHash(hash, digest, 32, 0), STATUS_SUCCESS);
  BCryptDestroyHash(hash);
}

TEST_F(HashCalls, PropertiesGiveTheirSizeAndValue) {
  DWORD length = 0;
  ULONG written = 0;
  EXPECT_EQ(BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, nullptr, 0, &written, 0),
            STATUS_SUCCESS);
  EXPECT_EQ(written, sizeof(DWORD));
  EXPECT_EQ(BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length), 2,
                              &written, 0),
            STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(BCryptGetProperty(algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&length),
                              sizeof(length), &written, 0),
            STATUS_SUCCESS);
  EXPECT_EQ(length, 32u);
  EXPECT_EQ(BCryptGetProperty(algorithm, L"NoSuchProperty", reinterpret_cast<PUCHAR>(&length),
                              sizeof(length), &written, 0),
            STATUS_NOT_SUPPORTED);
}

TEST_F(HashCalls, HandlesOfTheWrongKindAreRefused) {
  BCRYPT_HASH_HANDLE hash = NewHash(0);
  UCHAR byte = 0;
  EXPECT_EQ(BCryptHashData(algorithm, &byte, 1, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptDestroyHash(algorithm), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptCloseAlgorithmProvider(hash, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptHashData(nullptr, &byte, 1, 0), STATUS_INVALID_HANDLE);
  EXPECT_EQ(BCryptDestroyHash(hash), STATUS_SUCCESS);
}

struct OpenCase {
  const char* name;
  const wchar_t* algorithm;
  const wchar_t* implementation;
  ULONG flags;
  NTSTATUS status;
};
void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

class OpenProvider : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenProvider, AnswersAsTheSystemDoes) {
  const OpenCase& c = GetParam();
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  EXPECT_EQ(BCryptOpenAlgorithmProvider(&algorithm, c.algorithm, c.implementation, c.flags), c.status);
  if (c.status == STATUS_SUCCESS) {
    EXPECT_EQ(BCryptCloseAlgorithmProvider(algorithm, 0), STATUS_SUCCESS);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenProvider,
    testing::Values(OpenCase{"sha256", L"SHA256", nullptr, 0, STATUS_SUCCESS},
                    OpenCase{"reusable", L"SHA256", nullptr, BCRYPT_HASH_REUSABLE_FLAG, STATUS_SUCCESS},
                    OpenCase{"unknown algorithm", L"SHA257", nullptr, 0, STATUS_NOT_FOUND},
                    OpenCase{"lower case", L"sha256", nullptr, 0, STATUS_NOT_FOUND},
                    OpenCase{"another implementation", L"SHA256", L"Some Provider", 0, STATUS_NOT_FOUND},
                    OpenCase{"unknown flag", L"SHA256", nullptr, 0x1000, STATUS_INVALID_PARAMETER}));

}  // namespace
