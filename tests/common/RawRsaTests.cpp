// The raw RSA public-key operation against the host openssl's
// "pkeyutl -verifyrecover" without padding, and its size limits.
#include "HostPaths.h"
#include "RawRsa.h"

#include <gtest/gtest.h>
#include <openssl/rand.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.good()) << path;
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string RefDir() { return HostEnvPath("RSA_REFERENCE_DIR"); }

struct Key {
    RsaPublicKey key{nullptr, nullptr};
    explicit Key(const Bytes& n, const Bytes& e) {
        EXPECT_EQ(1, RSA_create(n.data(), int(n.size()), &key, e.data(), int(e.size())));
    }
    // A modulus of the given bit length (top and bottom bits set, so odd) and exponent e.
    Key(int bits, const Bytes& e) {
        Bytes n(size_t((bits + 7) / 8));
        RAND_bytes(n.data(), int(n.size()));
        n[0] |= (unsigned char)(1u << ((bits - 1) % 8));
        n[0] &= (unsigned char)((2u << ((bits - 1) % 8)) - 1);
        n.back() |= 1;
        EXPECT_EQ(1, RSA_create(n.data(), int(n.size()), &key, e.data(), int(e.size())));
    }
    ~Key() { DestroyRsaPublicKey(&key); }
    int Num() const { return (BN_num_bits(key.n) + 7) / 8; }
};

}  // namespace

TEST(RawRsa, EqualsOpenSslVerifyRecover) {
    const std::string dir = RefDir();
    ASSERT_FALSE(dir.empty()) << "RSA_REFERENCE_DIR not set";
    for (const char* k : {"rsa1024", "rsa2048", "rsa4096"}) {
        const std::string base = dir + "/" + k + "/";
        const Bytes n = ReadFile(base + "n.bin"), e = ReadFile(base + "e.bin");
        Key key(n, e);
        for (const char* c : {"random", "leading", "short"}) {
            const Bytes in = ReadFile(base + c + ".in"), expected = ReadFile(base + c + ".out");
            ASSERT_EQ(n.size(), expected.size()) << k << " " << c;
            Bytes out(n.size(), 0xA5);
            EXPECT_EQ(int(n.size()), RSA_eay_public_decrypt(int(in.size()), in.data(), out.data(), &key.key))
                << k << " " << c;
            EXPECT_EQ(expected, out) << k << " " << c;

            // Keylinq's form: the key as its two numbers, padding not consulted.
            Bytes out2(n.size(), 0x5A);
            EXPECT_EQ(int(n.size()), RSA_eay_public_decrypt(int(in.size()), in.data(), out2.data(), key.key.n,
                                                            key.key.e, 3 /* RSA_NO_PADDING */));
            EXPECT_EQ(expected, out2) << k << " " << c;
        }
        const Bytes leading = ReadFile(base + "leading.out");
        EXPECT_EQ(0, leading[0] | leading[1]) << k << ": the reference must start with zero bytes";
    }
}

TEST(RawRsa, RefusesInputsNotBelowTheModulusOrOfBadLength) {
    const std::string dir = RefDir();
    ASSERT_FALSE(dir.empty());
    const Bytes n = ReadFile(dir + "/rsa2048/n.bin"), e = ReadFile(dir + "/rsa2048/e.bin");
    Key key(n, e);
    Bytes out(n.size(), 0xA5);
    const Bytes untouched = out;

    Bytes longer(n.size() + 1, 0);  // numerically small, but longer than the modulus
    longer.back() = 2;
    Bytes nPlus = n;  // n + 1, carried (n may end in 0xFF)
    for (size_t i = nPlus.size(); i-- > 0;) {
        if (++nPlus[i] != 0) break;
    }
    struct Case {
        const char* what;
        int len;
        const unsigned char* in;
    };
    const Case cases[] = {
        {"equal to n", int(n.size()), n.data()},
        {"above n", int(nPlus.size()), nPlus.data()},
        {"longer than n", int(longer.size()), longer.data()},
        {"negative length", -1, n.data()},
        {"huge negative length", INT_MIN, n.data()},
        {"null input", 5, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(-1, RSA_eay_public_decrypt(c.len, c.in, out.data(), &key.key)) << c.what;
        EXPECT_EQ(-1, RSA_eay_public_decrypt(c.len, c.in, out.data(), key.key.n, key.key.e, 3)) << c.what;
        EXPECT_EQ(untouched, out) << c.what << ": output written on failure";
    }

    // An empty input is the number 0.
    EXPECT_EQ(int(n.size()), RSA_eay_public_decrypt(0, nullptr, out.data(), &key.key));
    EXPECT_EQ(Bytes(n.size(), 0), out);
}

TEST(RawRsa, ModulusAndExponentLimits) {
    const Bytes e3 = {3}, e65bits = {0x01, 0, 0, 0, 0, 0, 0, 0, 0x01};
    Bytes in(8, 0x11);
    struct Case {
        int bits;
        Bytes e;
        bool accepted;
    };
    const Case cases[] = {
        {4096, e65bits, false}, {3072, e65bits, true},  {3073, e65bits, false},
        {16385, e3, false},     {16384, e3, true},
    };
    for (const Case& c : cases) {
        Key key(c.bits, c.e);
        ASSERT_EQ(c.bits, BN_num_bits(key.key.n));
        Bytes out(size_t(key.Num()));
        EXPECT_EQ(c.accepted ? key.Num() : -1, RSA_eay_public_decrypt(int(in.size()), in.data(), out.data(), &key.key))
            << c.bits << " bits, exponent of " << c.e.size() << " bytes";
    }
    // The modulus must be greater than the exponent.
    const Bytes small = {0x10, 0x01}, big = {0x10, 0x01};
    RsaPublicKey key{nullptr, nullptr};
    ASSERT_EQ(1, RSA_create(small.data(), 2, &key, big.data(), 2));
    unsigned char out[2];
    EXPECT_EQ(-1, RSA_eay_public_decrypt(1, in.data(), out, &key));
    DestroyRsaPublicKey(&key);
    EXPECT_EQ(nullptr, key.n);
    EXPECT_EQ(nullptr, key.e);
}

TEST(RawRsa, CreateAcceptsLeadingZeros) {
    const Bytes n = {0, 0, 0x00, 0xC5}, e = {0, 0, 3};
    RsaPublicKey key{nullptr, nullptr};
    ASSERT_EQ(1, RSA_create(n.data(), int(n.size()), &key, e.data(), int(e.size())));
    EXPECT_EQ(8, BN_num_bits(key.n));
    unsigned char in[1] = {2}, out[1];
    EXPECT_EQ(1, RSA_eay_public_decrypt(1, in, out, &key));
    EXPECT_EQ(8, out[0]);  // 2^3 mod 197
    DestroyRsaPublicKey(&key);
    EXPECT_EQ(0, RSA_create(nullptr, 4, &key, e.data(), 3));
}
