// The enciphered file store: the exact envelope, reading it back, and never losing a file.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "CFileCipher.h"
#include "CXmlDocFile.h"
#include "TempDir.h"
#include "mem_buffer.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string Pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + (i * 7 + i / 97) % 90);
    return text;
}

std::size_t ExpectedFileSize(std::size_t plain) {
    std::size_t total = 0;
    while (plain > 0) {
        const std::size_t chunk = std::min<std::size_t>(plain, 32768);
        total += 16 * (chunk / 16 + 1);
        plain -= chunk;
    }
    return total;
}

// The same envelope written from OpenSSL's EVP calls alone: every unit is a separate CBC
// encryption whose IV is the last cipher block of the unit before.
std::string IndependentEnvelope(const std::string& plain) {
    static const unsigned char salt[8] = {0x3A, 0x91, 0xC4, 0x07, 0x5E, 0xB2, 0x68, 0xF0};
    static const unsigned char pass[16] = {0x17, 0xC2, 0x8E, 0x4B, 0xD9, 0x60, 0xA5, 0x3F,
                                           0x72, 0x0B, 0xE6, 0x94, 0x2D, 0x58, 0xB1, 0xCC};
    unsigned char key[32];
    unsigned char iv[32];
    EXPECT_EQ(32, EVP_BytesToKey(EVP_aes_256_cbc(), EVP_sha1(), salt, pass, 16, 5, key, iv));

    std::string out;
    for (std::size_t at = 0; at < plain.size(); at += 32768) {
        const int chunk = static_cast<int>(std::min<std::size_t>(plain.size() - at, 32768));
        std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                             EVP_CIPHER_CTX_free);
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key, iv);
        std::vector<unsigned char> unit(static_cast<std::size_t>(chunk) + 16);
        int n1 = 0, n2 = 0;
        EVP_EncryptUpdate(ctx.get(), unit.data(), &n1,
                          reinterpret_cast<const unsigned char*>(plain.data()) + at, chunk);
        EVP_EncryptFinal_ex(ctx.get(), unit.data() + n1, &n2);
        out.append(reinterpret_cast<const char*>(unit.data()), static_cast<std::size_t>(n1 + n2));
        std::copy(unit.data() + n1 + n2 - 16, unit.data() + n1 + n2, iv);
    }
    return out;
}

}  // namespace

TEST(StoreEnvelope, RoundTripKeepsTextAndGivesExactFileSizes) {
    TempDir dir;
    for (std::size_t size : {1u, 15u, 16u, 100u, 32767u, 32768u, 32769u, 40000u, 200000u}) {
        SCOPED_TRACE(size);
        const std::string file = dir / ("f" + std::to_string(size));
        const std::string text = Pattern(size);
        ASSERT_TRUE(SaveEncrypted(file, text));
        EXPECT_EQ(ExpectedFileSize(size), std::filesystem::file_size(file));
        std::string back;
        ASSERT_TRUE(LoadEncrypted(file, back));
        EXPECT_EQ(text, back);
    }
    // The sizes the format is known by.
    EXPECT_EQ(112u, ExpectedFileSize(100));
    EXPECT_EQ(32784u, ExpectedFileSize(32768));
    EXPECT_EQ(32800u, ExpectedFileSize(32769));
}

TEST(StoreEnvelope, MatchesAnIndependentImplementationByteForByte) {
    TempDir dir;
    for (std::size_t size : {1u, 32768u, 70000u}) {
        SCOPED_TRACE(size);
        const std::string text = Pattern(size);
        const std::string ours = dir / "ours";
        ASSERT_TRUE(SaveEncrypted(ours, text));
        const std::string theirs = IndependentEnvelope(text);
        EXPECT_EQ(theirs, ReadFile(ours));

        const std::string foreign = dir / "foreign";
        WriteFile(foreign, theirs);
        std::string back;
        ASSERT_TRUE(LoadEncrypted(foreign, back));
        EXPECT_EQ(text, back);
    }
}

TEST(StoreEnvelope, EmptyOrMissingFilesAreFailedReads) {
    TempDir dir;
    std::string text = "untouched";
    EXPECT_FALSE(LoadEncrypted(dir / "missing", text));
    EXPECT_EQ("untouched", text);

    WriteFile(dir / "empty", "");
    CFileCipher cipher;
    ASSERT_EQ(0, cipher.Init(StorePassphrase(), StorePassphraseLength()));
    EXPECT_EQ(0, cipher.DecryptFromFile(dir / "empty", text));
    EXPECT_EQ("", text);
    EXPECT_FALSE(LoadEncrypted(dir / "empty", text));
}

TEST(StoreEnvelope, DamagedTruncatedOrForeignFilesFail) {
    TempDir dir;
    const std::string file = dir / "good";
    ASSERT_TRUE(SaveEncrypted(file, Pattern(40000)));
    const std::string good = ReadFile(file);
    std::string text;

    // Last byte changed: the final padding no longer checks.
    std::string damaged = good;
    damaged.back() = static_cast<char>(damaged.back() ^ 0x5A);
    WriteFile(dir / "damaged", damaged);
    EXPECT_FALSE(LoadEncrypted(dir / "damaged", text));

    // Cut at a block boundary and inside a block.
    WriteFile(dir / "cut16", good.substr(0, good.size() - 16));
    EXPECT_FALSE(LoadEncrypted(dir / "cut16", text));
    WriteFile(dir / "cut5", good.substr(0, good.size() - 5));
    EXPECT_FALSE(LoadEncrypted(dir / "cut5", text));
    // Cut exactly after the first unit: the format cannot tell, and the first unit's text loads.
    WriteFile(dir / "unit", good.substr(0, CFileCipher::kUnitCipher));
    ASSERT_TRUE(LoadEncrypted(dir / "unit", text));
    EXPECT_EQ(Pattern(40000).substr(0, CFileCipher::kUnitPlain), text);

    // Enciphered with another passphrase.
    CFileCipher other;
    const unsigned char pass[4] = {1, 2, 3, 4};
    ASSERT_EQ(0, other.Init(pass, 4));
    ASSERT_GT(other.EncryptToFile(dir / "foreign", Pattern(500)), 0);
    EXPECT_FALSE(LoadEncrypted(dir / "foreign", text));

    // Plain text is not a stored file.
    WriteFile(dir / "plain", "<usr version=\"1\"/>\n<!-- plain text of 32 bytes -->");
    EXPECT_FALSE(LoadEncrypted(dir / "plain", text));
}

TEST(StoreEnvelope, TextEndsAtTheFirstZeroByte) {
    TempDir dir;
    std::string text("before");
    text.push_back('\0');
    text += "after";
    ASSERT_TRUE(SaveEncrypted(dir / "f", text));
    std::string back;
    ASSERT_TRUE(LoadEncrypted(dir / "f", back));
    EXPECT_EQ("before", back);
}

TEST(StoreEnvelope, CipherRejectsMissingBuffers) {
    CFileCipher cipher;
    ASSERT_EQ(0, cipher.Init(StorePassphrase(), StorePassphraseLength()));
    unsigned char buf[32] = {};
    EXPECT_EQ(-1, cipher.Encrypt(nullptr, 4, buf));
    EXPECT_EQ(-1, cipher.Encrypt(buf, 4, nullptr));
    EXPECT_EQ(-1, cipher.Decrypt(nullptr, 16, buf));
    EXPECT_EQ(-1, cipher.Decrypt(buf, 16, nullptr));
}

TEST(StoreSaving, AFailedSaveNeverDestroysThePreviousFile) {
    TempDir dir;
    const std::string file = dir / "config.xml";
    ASSERT_TRUE(SaveEncrypted(file, "<kanvo/>"));
    const std::string before = ReadFile(file);

    // Empty text writes nothing and reports failure.
    EXPECT_FALSE(SaveEncrypted(file, ""));
    EXPECT_EQ(before, ReadFile(file));

    // A folder that cannot be written: the save fails, the file stays.
    if (::geteuid() != 0) {  // root writes anywhere; the empty-text case above still covers it
        ASSERT_EQ(0, ::chmod(dir.path().c_str(), 0500));
        EXPECT_FALSE(SaveEncrypted(file, "<kanvo><server/></kanvo>"));
        ::chmod(dir.path().c_str(), 0700);
        EXPECT_EQ(before, ReadFile(file));
    }
    EXPECT_FALSE(SaveEncrypted(dir / "no-such-folder/config.xml", "<kanvo/>"));

    // A successful save replaces the file whole and leaves no temporary file behind.
    ASSERT_TRUE(SaveEncrypted(file, "<kanvo><server/></kanvo>"));
    std::string back;
    ASSERT_TRUE(LoadEncrypted(file, back));
    EXPECT_EQ("<kanvo><server/></kanvo>", back);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(1, entries);
}

// A process killed at any moment of a save (the program crashing, or the user ending it) leaves
// config.xml whole: it deciphers and parses, and holds either the text before the save or the
// text of the save. One of the two texts spans two enciphered units, so a half-written file
// could not pass for either.
TEST(StoreSaving, SavesKilledAtRandomMomentsLeaveTheOldOrTheNewFile) {
    TempDir dir;
    const std::string file = dir / "config.xml";
    const std::string small = "<kanvo>\n\t<server login=\"http://127.0.0.1:18080/api/login\"/>\n</kanvo>\n\n";
    std::string large = "<kanvo>\n\t<server login=\"http://127.0.0.1:18080/api/login\"/>\n\t<games>\n";
    for (int i = 0; large.size() < 40000; ++i)
        large += "\t\t<game name=\"game " + std::to_string(i) + "\" main=\"game" + std::to_string(i) + "\"/>\n";
    large += "\t</games>\n</kanvo>\n\n";
    // The texts as a save prints them.
    auto printedForm = [&](const std::string& xml) {
        EXPECT_TRUE(SaveEncrypted(dir / "source.xml", xml));
        CXmlDocFile doc("");
        EXPECT_TRUE(doc.Load(dir / "source.xml"));
        std::filesystem::remove(dir / "source.xml");
        return doc.Print();
    };
    const std::string printed[2] = {printedForm(small), printedForm(large)};
    ASSERT_GT(printed[1].size(), 32768u);
    ASSERT_TRUE(SaveEncrypted(file, printed[0]));
    const std::string sources[2] = {dir / "text0", dir / "text1"};
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(SaveEncrypted(sources[i], printed[i]));

    // Saves started by the child so far, counted where both processes see it.
    auto* started = static_cast<std::atomic<long>*>(
        ::mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void*>(started));
    std::mt19937 random(std::random_device{}());
    int kills = 0, completed = 0;
    for (int round = 0; round < 200; ++round) {
        new (started) std::atomic<long>(0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Both texts bound to config.xml, saved in turn until the child is killed.
            CXmlDocFile first(file);
            CXmlDocFile second(file);
            if (!first.Load(sources[0]) || !second.Load(sources[1])) ::_exit(3);
            for (long n = 0; n < 100000; ++n) {
                started->fetch_add(1);
                ((n + round) % 2 == 0 ? second : first).Save();
            }
            ::_exit(0);  // never reached in time: the destructors' saves are not wanted
        }
        // Killed during the first to fourth save, some microseconds in.
        const long saves = std::uniform_int_distribution<long>(1, 4)(random);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (started->load() < saves && std::chrono::steady_clock::now() < limit) std::this_thread::yield();
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random));
        while (std::chrono::steady_clock::now() < until) {
        }
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(child, ::waitpid(child, &status, 0));
        kills += WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        completed += started->load() > saves;

        std::string now;
        ASSERT_TRUE(LoadEncrypted(file, now)) << "round " << round;
        ASSERT_TRUE(now == printed[0] || now == printed[1]) << "round " << round << ": " << now.size() << " bytes";
        CXmlDocFile check("");
        ASSERT_TRUE(check.Load(file)) << "round " << round;
        ASSERT_NE(nullptr, check.Doc().first_node("kanvo"));
    }
    ::munmap(started, sizeof(std::atomic<long>));
    EXPECT_EQ(200, kills);
    // A killed save leaves its temporary file; the next save removes it, so they never pile up.
    int leftovers = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        leftovers += e.path().filename().string().rfind("config.xml.tmp-", 0) == 0;
    EXPECT_LE(leftovers, 1);
    std::printf("200 kills, %d after a finished save; %d temporary files left\n", completed, leftovers);
}

TEST(StoreSaving, SavingKeepsTheModeOfTheFileItReplaces) {
    TempDir dir;
    const std::string file = dir / "usr.xml";
    ASSERT_TRUE(SaveEncrypted(file, "a"));
    ASSERT_EQ(0, ::chmod(file.c_str(), 0640));
    ASSERT_TRUE(SaveEncrypted(file, "b"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(file.c_str(), &st));
    EXPECT_EQ(0640u, st.st_mode & 0777);
}

TEST(XmlDocFile, LoadParsesAndSaveWritesTheBoundFile) {
    TempDir dir;
    ASSERT_TRUE(SaveEncrypted(dir / "source.xml", "<root a=\"1 &amp; 2\"><child>text</child></root>"));
    {
        CXmlDocFile doc(dir / "target.xml");
        ASSERT_TRUE(doc.Load(dir / "source.xml"));
        auto* root = doc.Doc().first_node("root");
        ASSERT_NE(nullptr, root);
        EXPECT_STREQ("1 & 2", root->first_attribute("a")->value());
        root->append_node(doc.NewElement("added", "x<y"));
    }  // destroyed: writes itself to the bound name, not to the file it was loaded from
    std::string text;
    ASSERT_TRUE(LoadEncrypted(dir / "target.xml", text));
    EXPECT_NE(std::string::npos, text.find("<added>x&lt;y</added>"));
    EXPECT_NE(std::string::npos, text.find("a=\"1 &amp; 2\""));
    EXPECT_NE(std::string::npos, text.find('\t'));  // printed indented
}

TEST(XmlDocFile, FailedLoadsLeaveThePreviousDocument) {
    TempDir dir;
    ASSERT_TRUE(SaveEncrypted(dir / "good.xml", "<kanvo><server/></kanvo>"));
    ASSERT_TRUE(SaveEncrypted(dir / "bad.xml", "<kanvo><server></kanvo>"));
    ASSERT_TRUE(SaveEncrypted(dir / "junk.xml", "\x01\x02 not xml at all <<<"));
    CXmlDocFile doc("");
    ASSERT_TRUE(doc.Load(dir / "good.xml"));
    EXPECT_FALSE(doc.Load(dir / "bad.xml"));
    EXPECT_FALSE(doc.Load(dir / "junk.xml"));
    EXPECT_FALSE(doc.Load(dir / "missing.xml"));
    ASSERT_NE(nullptr, doc.Doc().first_node("kanvo"));
    EXPECT_NE(nullptr, doc.Doc().first_node("kanvo")->first_node("server"));
}

TEST(XmlDocFile, DeeplyNestedTextIsRefusedNotACrash) {
    TempDir dir;
    std::string deep;
    for (int i = 0; i < 300000; ++i) deep += "<a>";
    for (int i = 0; i < 300000; ++i) deep += "</a>";
    ASSERT_TRUE(SaveEncrypted(dir / "deep.xml", deep));
    CXmlDocFile doc("");
    EXPECT_FALSE(doc.Load(dir / "deep.xml"));

    // Closing tags the parser never sees as such must not pay for opening ones it does see.
    std::string opens;
    for (int i = 0; i < 300000; ++i) opens += "<a>";
    std::string subsets;
    for (int run = 0; run < 1300; ++run) {
        for (int i = 0; i < 249; ++i) subsets += "<a>";
        subsets += "<!DOCTYPE d [";
        for (int i = 0; i < 250; ++i) subsets += "</z>";
        subsets += "]>";
    }
    std::string closes;
    for (int i = 0; i < 300000; ++i) closes += "</z>";
    const struct {
        const char* what;
        std::string text;
    } hostile[] = {
        {"a DOCTYPE subset full of closing tags", "<!DOCTYPE d [" + closes + "]>" + opens},
        {"subsets between runs of opening tags", subsets},
        {"a quote in an element name", "<a'>" + opens},
        {"brackets inside a quoted entity", "<r><!DOCTYPE d [<!ENTITY e ']'>" + closes + "]>" + opens},
    };
    for (const auto& h : hostile) {
        SCOPED_TRACE(h.what);
        ASSERT_TRUE(SaveEncrypted(dir / "hostile.xml", h.text));
        EXPECT_FALSE(doc.Load(dir / "hostile.xml"));
    }

    // Ordinary nesting, comments, CDATA and quoted ">" are not mistaken for depth.
    std::string fine = "<?xml version=\"1.0\"?><!-- <<<< --><r a=\"x>y\" b='/>'>";
    for (int i = 0; i < 200; ++i) fine += "<n><e/><![CDATA[<<]]>";
    for (int i = 0; i < 200; ++i) fine += "</n>";
    fine += "</r>";
    ASSERT_TRUE(SaveEncrypted(dir / "fine.xml", fine));
    EXPECT_TRUE(doc.Load(dir / "fine.xml"));
    // Nor are a DOCTYPE with its subset, processing instructions or a byte-order mark.
    const std::string prolog = "\xEF\xBB\xBF<?xml version='1.0'?><!DOCTYPE r [<!ELEMENT r ANY><!-- [x] -->]><?pi </x> ?>";
    std::string nested = "<r>";
    for (int i = 0; i < 255; ++i) nested += "<n a = '</n>' >";
    for (int i = 0; i < 255; ++i) nested += "</n >";
    ASSERT_TRUE(SaveEncrypted(dir / "prolog.xml", prolog + nested + "</r>"));
    EXPECT_TRUE(doc.Load(dir / "prolog.xml"));
    ASSERT_TRUE(SaveEncrypted(dir / "prolog.xml", prolog + "<r>" + nested + "</r></r>"));
    EXPECT_FALSE(doc.Load(dir / "prolog.xml"));  // one level more than the limit
}

TEST(XmlDocFile, NothingIsWrittenWithoutANameOrWithoutContent) {
    TempDir dir;
    testsupport::ScopedChdir cd(dir.path());
    {
        CXmlDocFile unnamed("");
        unnamed.Doc().append_node(unnamed.NewElement("root"));
        EXPECT_FALSE(unnamed.Save());
    }
    {
        // An object whose load failed holds an empty document: saving it must not replace the
        // file that could not be read.
        WriteFile("usr.xml", "damaged bytes");
        CXmlDocFile user("usr.xml");
        EXPECT_FALSE(user.Load("usr.xml"));
        EXPECT_FALSE(user.Save());
    }
    EXPECT_EQ("damaged bytes", ReadFile("usr.xml"));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(1, entries);
}

TEST(MemBuffer, GrowsKeepingContentAndAZeroTail) {
    mem_buffer buffer(4);
    EXPECT_EQ(0u, buffer.size());
    buffer.append("abc", 3);
    buffer.append("defghij", 7);  // past the capacity
    EXPECT_EQ(10u, buffer.size());
    EXPECT_GE(buffer.capacity(), 10u);
    EXPECT_EQ("abcdefghij", std::string(reinterpret_cast<const char*>(buffer.data())));
    for (std::size_t i = buffer.size(); i < buffer.capacity() + 8; ++i) EXPECT_EQ(0, buffer.data()[i]);
    buffer.clear();
    EXPECT_EQ(0u, buffer.size());
    EXPECT_EQ(0, buffer.data()[0]);
}
