// The parts of the remote operations that need no server: Base64, the program templates, the
// listing reader's messages, and how each operation maps what ssh returned, with a stand-in
// `ssh` that answers as told.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "base/base64.h"
#include "ssh/process.h"
#include "ssh/remote.h"
#include "ssh/remote_programs.h"
#include "support/fake_ssh.h"
#include "support/read_refusal.h"
#include "support/temp_home.h"

using namespace wrenfield;
using wrenfield::testing::expect_too_large;
using wrenfield::testing::FakeSsh;
using wrenfield::testing::ListeningSocket;
using wrenfield::testing::ScopedEnvironmentVariable;
using wrenfield::testing::TemporaryHome;
using wrenfield::testing::write_file;

namespace {

std::string parse_error(std::string_view json) {
    auto items = parse_file_items(json);
    return items ? "(parsed)" : items.error();
}

// What reading gives, as one text to compare: each entry's fields, or the message.
std::string outcome(const std::expected<std::vector<FileItem>, Error>& items) {
    if (!items)
        return "error: " + items.error();
    std::string text;
    for (const FileItem& item : *items) {
        text += item.name + "|" + item.path + "|" + std::to_string(item.is_dir) +
                std::to_string(item.is_symlink) + std::to_string(item.is_hidden) + "|" +
                std::to_string(item.size) + "|" + std::to_string(item.modified) + "|" +
                item.permissions + "\n";
    }
    return text;
}

// Reads `text` with the piecewise reader, cut at each of `cuts` (ascending).
std::expected<std::vector<FileItem>, Error> read_in_pieces(std::string_view text,
                                                           const std::vector<size_t>& cuts) {
    FileItemReader reader;
    std::vector<FileItem> items;
    const auto take = [&items](FileItem&& item) { items.push_back(std::move(item)); };
    size_t from = 0;
    for (size_t cut : cuts) {
        if (auto fed = reader.feed(text.substr(from, cut - from), take); !fed)
            return std::unexpected(fed.error());
        from = cut;
    }
    if (auto fed = reader.feed(text.substr(from), take); !fed)
        return std::unexpected(fed.error());
    if (auto finished = reader.finish(take); !finished)
        return std::unexpected(finished.error());
    return items;
}

}  // namespace

TEST(Base64, StandardAlphabetWithPadding) {
    EXPECT_EQ(base64_encode(""), "");
    EXPECT_EQ(base64_encode("f"), "Zg==");
    EXPECT_EQ(base64_encode("fo"), "Zm8=");
    EXPECT_EQ(base64_encode("foo"), "Zm9v");
    EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64_encode("\xff\xfe\xfd"), "//79");
    EXPECT_EQ(base64_encode(std::string("\xfb\xff\0\x80", 4)), "+/8AgA==");
}

// Every program is one double-quoted word for the remote shell, so nothing inside may end or
// expand the quoting, and python needs its indentation intact.
TEST(RemotePrograms, TemplatesKeepTheShellQuotingSafe) {
    const std::pair<std::string_view, int> programs[] = {
        {remote_programs::kList, 1},   {remote_programs::kRead, 2},   {remote_programs::kMkdir, 2},
        {remote_programs::kDelete, 2}, {remote_programs::kRename, 3}, {remote_programs::kWrite, 3}};
    for (const auto& [program, placeholders] : programs) {
        SCOPED_TRACE(program.substr(0, 120));
        ASSERT_TRUE(program.starts_with("python3 -c \"\nimport "));
        ASSERT_TRUE(program.ends_with("\n\""));
        const std::string_view body = program.substr(13, program.size() - 15);
        EXPECT_EQ(body.find_first_of("\"$`\\\t\r!"), std::string_view::npos);
        const std::string_view imports = body.substr(0, body.find('\n'));
        EXPECT_NE(imports.find("sys"), std::string_view::npos);
        EXPECT_NE(imports.find("base64"), std::string_view::npos);
        EXPECT_NE(body.find("\nexcept Exception as e:\n    sys.stderr.write(str(e))\n"
                            "    sys.exit(1)"),
                  std::string_view::npos);
        size_t start = 0;
        while (start < body.size()) {
            const size_t end = body.find('\n', start);
            const std::string_view line = body.substr(start, end - start);
            EXPECT_EQ(line.find_first_not_of(' ') % 4, 0u) << line;
            start = end == std::string_view::npos ? body.size() : end + 1;
        }
        int found = 0;
        for (size_t at = 0; (at = program.find("{}", at)) != std::string_view::npos; at += 2)
            ++found;
        EXPECT_EQ(found, placeholders);
    }
    EXPECT_NE(remote_programs::fill_program(remote_programs::kRename, {"QQ==", "Qg=="})
                  .find("\nsrc = os.fsdecode(base64.b64decode('QQ=='))\n"
                        "dst = os.fsdecode(base64.b64decode('Qg=='))\n"),
              std::string::npos);
}

// The listing is read as it comes: wherever its text is cut into pieces, the entries and the
// messages (with their positions) are those of the whole text.
TEST(ListingReader, PiecesReadAsTheWholeText) {
    const std::string entry =
        R"({"name": "\u00e9\ud83d\ude00", "path": "/x/caf\udce9", "is_dir": true, )"
        R"("is_symlink": false, "size": 18446744073709551615, "modified": -5, )"
        R"("permissions": "drwxr-xr-x", "is_hidden": false, "extra": [1, {"a": "\"]"}, -2.5e3]})";
    const std::vector<std::string> texts = {
        "[" + entry + ", " + entry + "]\n",
        " \n[\n" + entry + ",\n  " + entry + "\n]\n \n",
        "[]",
        "",
        "[" + entry + ", " + entry + "] x",
        "[" + entry + ",\n" + entry + ",]",
        "[" + entry + ",\n " + R"({"name": "a", "size": 12.5}])",
        "[" + entry + ", " + R"({"name":"a","name":"b"}])",
        "[" + entry + ", " + R"({"name": "\udc7f"}])",
        "[" + entry + ", " + R"({"modified": 92233720368547758070}])",
        "[" + entry + ", " + R"({"name": "\u00e)",
        "[" + entry + ", \"text\"]",
        "[" + entry + ", null]",
        "[" + entry + ", " + R"({"x": tru)",
        "[" + entry,
        "Last login: today\n[" + entry + "]",
        "[" + entry + "]\n[]",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::string whole = outcome(parse_file_items(text));
        for (size_t cut = 0; cut <= text.size(); ++cut)
            ASSERT_EQ(outcome(read_in_pieces(text, {cut})), whole) << "cut at " << cut;
        std::vector<size_t> every_byte;
        for (size_t cut = 1; cut < text.size(); ++cut)
            every_byte.push_back(cut);
        EXPECT_EQ(outcome(read_in_pieces(text, every_byte)), whole);
    }
    // A long value cut into many pieces is read once it is whole.
    const std::string deep =
        "[{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}]";
    std::vector<size_t> cuts;
    for (size_t cut = 100; cut < deep.size(); cut += 100)
        cuts.push_back(cut);
    EXPECT_EQ(outcome(read_in_pieces(deep, cuts)), outcome(parse_file_items(deep)));
}

TEST(ListingReader, ReadsTheListingProgramsOutput) {
    auto items = parse_file_items(
        "[{\"name\": \"\\u00e9\\ud83d\\ude00\", \"path\": \"/x/\\u00e9\", \"is_dir\": true, "
        "\"is_symlink\": false, \"size\": 18446744073709551615, \"modified\": "
        "-9223372036854775808, \"permissions\": \"drwxr-xr-x\", \"is_hidden\": false, "
        "\"extra\": {\"deep\": [[1, 2.5e3, -0, null, true, {}], \"s\\\"\"]}}, "
        "{\"link_to_dir\": true, \"is_hidden\": true, \"permissions\": \"\", \"modified\": 0, "
        "\"size\": 0, "
        "\"is_symlink\": true, \"is_dir\": false, \"path\": \"\", \"name\": \".h\"}]\n");
    ASSERT_TRUE(items.has_value()) << items.error();
    ASSERT_EQ(items->size(), 2u);
    const FileItem& first = (*items)[0];
    EXPECT_EQ(first.name, "\u00e9\U0001F600");
    EXPECT_EQ(first.path, "/x/\u00e9");
    EXPECT_TRUE(first.is_dir);
    EXPECT_EQ(first.size, UINT64_MAX);
    EXPECT_EQ(first.modified, INT64_MIN);
    EXPECT_TRUE((*items)[1].is_hidden);
    EXPECT_TRUE((*items)[1].is_symlink);
    // link_to_dir is read when present, and false when left out.
    EXPECT_TRUE((*items)[1].link_to_dir);
    EXPECT_FALSE(first.link_to_dir);
    EXPECT_EQ(parse_error("[{\"link_to_dir\":1}]"),
              "invalid type: integer `1`, expected a boolean at line 1 column 17");
    EXPECT_TRUE(parse_file_items(" \t\r\n[ ]\n ")->empty());

    // A name that is not UTF-8 on the remote side comes as Python's surrogateescape writes it,
    // and is read back as its own bytes.
    auto latin1 = parse_file_items(
        "[{\"name\": \"caf\\udce9\\udc80\\udcff.txt\", \"path\": \"/d\\udce9/caf\\udce9\", "
        "\"is_dir\": false, \"is_symlink\": false, \"size\": 1, \"modified\": 0, "
        "\"permissions\": \"-rw-r--r--\", \"is_hidden\": false}]");
    ASSERT_TRUE(latin1.has_value()) << latin1.error();
    EXPECT_EQ((*latin1)[0].name, "caf\xe9\x80\xff.txt");
    EXPECT_EQ((*latin1)[0].path, "/d\xe9/caf\xe9");
}

TEST(ListingReader, RecordCheckMessagesNameTheFieldAndPosition) {
    // Missing and duplicate fields are reported where the reader stands when it notices.
    EXPECT_EQ(parse_error("[{\"name\":\"a\"}]"), "missing field `path` at line 1 column 13");
    EXPECT_EQ(parse_error("[{\"name\":\"a\",\"path\":\"p\",\"is_dir\":true,\"is_symlink\":true,"
                          "\"size\":1,\"modified\":1,\"permissions\":\"\"}]"),
              "missing field `is_hidden` at line 1 column 95");
    EXPECT_EQ(parse_error("[{\"name\":\"a\",\"name\":\"b\"}]"),
              "duplicate field `name` at line 1 column 19");
    EXPECT_EQ(parse_error("[{\"x\":1,\"x\":2}]"), "missing field `name` at line 1 column 14");
}

TEST(ListingReader, WrongValueKindsNameWhatWasFoundAndWhatWasExpected) {
    EXPECT_EQ(parse_error("[{\"name\":5}]"),
              "invalid type: integer `5`, expected a string at line 1 column 10");
    EXPECT_EQ(parse_error("[{\"size\":\"x\"}]"),
              "invalid type: string \"x\", expected u64 at line 1 column 12");
    EXPECT_EQ(parse_error("[{\"size\":-1}]"),
              "invalid value: integer `-1`, expected u64 at line 1 column 11");
    EXPECT_EQ(parse_error("[{\"size\":1.5}]"),
              "invalid type: floating point `1.5`, expected u64 at line 1 column 12");
    EXPECT_EQ(parse_error("[{\"size\":1e3}]"),
              "invalid type: floating point `1000.0`, expected u64 at line 1 column 12");
    EXPECT_EQ(parse_error("[{\"size\":18446744073709551616}]"),
              "invalid type: floating point `1.8446744073709552e19`, expected u64 at line 1 "
              "column 29");
    EXPECT_EQ(parse_error("[{\"size\":-0}]"),
              "invalid type: floating point `-0.0`, expected u64 at line 1 column 11");
    EXPECT_EQ(parse_error("[{\"modified\":9223372036854775808}]"),
              "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 32");
    EXPECT_EQ(parse_error("[{\"modified\":1e-7}]"),
              "invalid type: floating point `1e-7`, expected i64 at line 1 column 17");
    EXPECT_EQ(parse_error("[{\"modified\":0.00125}]"),
              "invalid type: floating point `0.00125`, expected i64 at line 1 column 20");
    EXPECT_EQ(parse_error("[{\"is_dir\":null}]"),
              "invalid type: null, expected a boolean at line 1 column 15");
    EXPECT_EQ(parse_error("[{\"is_dir\":\"true\"}]"),
              "invalid type: string \"true\", expected a boolean at line 1 column 17");
    EXPECT_EQ(parse_error("[{\"name\":true}]"),
              "invalid type: boolean `true`, expected a string at line 1 column 13");
    // Containers are named before they are read.
    EXPECT_EQ(parse_error("[{\"name\":[]}]"),
              "invalid type: sequence, expected a string at line 1 column 9");
    EXPECT_EQ(parse_error("[{\"name\":{}}]"),
              "invalid type: map, expected a string at line 1 column 9");
    EXPECT_EQ(parse_error("[{\"size\":\"a\\\"b\\u00e9\\t\"}]"),
              "invalid type: string \"a\\\"b\u00e9\\t\", expected u64 at line 1 column 23");
    EXPECT_EQ(parse_error("[\"x\"]"),
              "invalid type: string \"x\", expected struct FileItem at line 1 column 4");
    EXPECT_EQ(parse_error("[null]"),
              "invalid type: null, expected struct FileItem at line 1 column 5");
    EXPECT_EQ(parse_error("[\n  7]"),
              "invalid type: integer `7`, expected struct FileItem at line 2 column 3");
    EXPECT_EQ(parse_error("{}"), "invalid type: map, expected a sequence at line 1 column 0");
}

TEST(ListingReader, SyntaxFaultsAreReportedWithTheirPosition) {
    EXPECT_EQ(parse_error(""), "EOF while parsing a value at line 1 column 0");
    EXPECT_EQ(parse_error("["), "EOF while parsing a list at line 1 column 1");
    EXPECT_EQ(parse_error("[{"), "EOF while parsing an object at line 1 column 2");
    EXPECT_EQ(parse_error("[] x"), "trailing characters at line 1 column 4");
    EXPECT_EQ(parse_error("[{},]"), "missing field `name` at line 1 column 3");
    EXPECT_EQ(parse_error("Welcome\n[]"), "expected value at line 1 column 1");
    EXPECT_EQ(parse_error("[{\"name\" 1}]"), "expected `:` at line 1 column 10");
    EXPECT_EQ(parse_error("[{\"x\":[1,]}]"), "expected value at line 1 column 10");
    EXPECT_EQ(parse_error("[{\"x\":01}]"), "invalid number at line 1 column 8");
    // A skipped value is only checked for its form, not its range.
    EXPECT_EQ(parse_error("[{\"x\":1e999}]"), "missing field `name` at line 1 column 12");
    EXPECT_EQ(parse_error("[{\"size\":1e999}]"), "number out of range at line 1 column 14");
    EXPECT_EQ(parse_error("[{\"name\":\"a\\q\"}]"), "invalid escape at line 1 column 13");
    EXPECT_EQ(parse_error("[{\"name\":\"a\nb\"}]"),
              "control character (\\u0000-\\u001F) found while parsing a string at line 2 "
              "column 0");
    // A name's byte that is not UTF-8 arrives as \udc80 to \udcff (see ReadsTheListingPrograms-
    // Output); no other lone surrogate stands for anything.
    EXPECT_EQ(parse_error("[{\"name\":\"\\udc7f\"}]"),
              "lone leading surrogate in hex escape at line 1 column 16");
    EXPECT_EQ(parse_error("[{\"name\":\"\\udd00\"}]"),
              "lone leading surrogate in hex escape at line 1 column 16");
    EXPECT_EQ(parse_error("[{\"name\":\"\\ud83dx\"}]"),
              "unexpected end of hex escape at line 1 column 17");
    // Nesting inside a skipped value is not limited by the stack.
    const std::string deep = "[{\"x\":" + std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(parse_error(deep + "}]"), "missing field `name` at line 1 column 200007");
}

class FakeSshTest : public ::testing::Test {
  protected:
    // Test programs run side by side: a host of their own keeps their control paths apart.
    SshConnection connection() { return SshConnection::create(host); }
    const std::string host = "fake-host-" + std::to_string(::getpid());
    TemporaryHome home;
};

TEST_F(FakeSshTest, ProbeSplitsTheOutputAtTheSeparators) {
    FakeSsh ssh(
        "printf 'Welcome!\\nLinux 6.1.0 x86_64\\n---SEP---\\n/home/deploy\\n---SEP---\\n"
        "deploy\\n---SEP---\\n/usr/bin/python3\\n---SEP---\\nignored'");
    SshConnection record = connection();
    auto result = connect_probe(record);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(result->remote_os, "Welcome!\nLinux 6.1.0 x86_64");
    EXPECT_EQ(result->home_dir, "/home/deploy");
    EXPECT_EQ(result->user, "deploy");
    EXPECT_TRUE(result->has_python);
    EXPECT_EQ(record.home_dir, "/home/deploy");
    const auto calls = ssh.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].back(),
              "uname -s -r -m; echo '---SEP---'; pwd; echo '---SEP---'; whoami; echo '---SEP---'; "
              "which python3 2>/dev/null || which python 2>/dev/null || echo 'no_python'");
    EXPECT_EQ(calls[0].back().size(), 156u);
}

TEST_F(FakeSshTest, ProbeKeepsTheBytesOfAHomeFolderThatIsNotUtf8) {
    FakeSsh ssh(
        "printf "
        "'Linux\\n---SEP---\\n/home/caf\\351\\n---SEP---\\nu\\n---SEP---\\n/bin/python3\\n'");
    SshConnection record = connection();
    auto result = connect_probe(record);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(result->home_dir, "/home/caf\xe9");
    EXPECT_EQ(record.home_dir, "/home/caf\xe9");
}

TEST_F(FakeSshTest, ProbeFindsNoPythonInABlankOrNoPythonLastPiece) {
    for (const char* last : {"no_python\\n", "", " \\n"}) {
        FakeSsh ssh(std::string("printf 'L\\n---SEP---\\n/\\n---SEP---\\nu\\n---SEP---\\n") + last +
                    "'");
        SshConnection record = connection();
        auto result = connect_probe(record);
        ASSERT_TRUE(result.has_value()) << result.error();
        EXPECT_FALSE(result->has_python) << last;
    }
}

TEST_F(FakeSshTest, ProbeFailuresKeepTheRecordAsItWas) {
    {
        // Too few pieces: the whole output is quoted and the socket is left alone.
        FakeSsh ssh("printf 'a\\n---SEP---\\nb\\n---SEP---\\nc\\n'");
        SshConnection record = connection();
        ListeningSocket master(record.control_path);
        ASSERT_TRUE(master.bound());
        EXPECT_EQ(connect_probe(record).error(),
                  "Unexpected response from remote host: a\n---SEP---\nb\n---SEP---\nc\n");
        EXPECT_TRUE(std::filesystem::exists(record.control_path));
        EXPECT_EQ(record.remote_os, "Unknown");
    }
    {
        FakeSsh ssh("printf '\\n' >&2; exit 255");
        SshConnection record = connection();
        ListeningSocket master(record.control_path);
        ASSERT_TRUE(master.bound());
        EXPECT_EQ(connect_probe(record).error(), "SSH connection failed with unknown error");
        EXPECT_FALSE(std::filesystem::exists(record.control_path));
    }
    {
        FakeSsh ssh(
            "printf 'Linux\\n---SEP---\\n/\\n---SEP---\\nu\\n---SEP---\\n'; "
            "printf ' ssh: bad \\xff\\r\\n' >&2; kill -TERM $$");
        SshConnection record = connection();
        EXPECT_EQ(connect_probe(record).error(), "ssh: bad \ufffd");
        EXPECT_EQ(record.home_dir, "/");
    }
    ScopedEnvironmentVariable no_ssh("PATH", "/nonexistent");
    SshConnection record = connection();
    EXPECT_EQ(connect_probe(record).error(),
              "Failed to execute ssh: No such file or directory (os error 2)");
}

// A failed run with nothing on standard error gets each operation's own text, naming the
// paths exactly as given (the listing names the directory it used).
TEST_F(FakeSshTest, BlankFailuresGetTheOperationsFixedText) {
    FakeSsh ssh("cat >/dev/null; exit 1");
    const SshConnection record = connection();
    EXPECT_EQ(list_remote_dir(record, "~").error(), "Failed to list directory: /");
    EXPECT_EQ(list_remote_dir(record, "~/x/").error(), "Failed to list directory: ~/x/");
    EXPECT_EQ(read_remote_file(record, "a b").error().message, "Failed to read file: a b");
    EXPECT_EQ(remote_download(record, "a").error(), "Failed to download file: a");
    EXPECT_EQ(remote_mkdir(record, "d").error(), "Failed to create directory: d");
    EXPECT_EQ(remote_delete(record, "f", RemoteEntry::File).error(), "Failed to delete: f");
    EXPECT_EQ(remote_delete(record, "d", RemoteEntry::Directory).error(), "Failed to delete: d");
    EXPECT_EQ(remote_rename(record, "a", "b").error(), "Failed to rename a to b");
    EXPECT_EQ(remote_write_file(record, "w", "data").error(), "Failed to write file: w");
}

// A write whose remote program ends without its own message (killed: ssh gives 255) while it
// rewrites the file in place says that the file may be incomplete; once it had written all the
// new bytes, the save has not failed. Its own message stays as it is, without the marks.
TEST_F(FakeSshTest, WriteCutShortDuringARewriteInPlace) {
    const SshConnection record = connection();
    {
        FakeSsh ssh("cat >/dev/null; printf '\\036rewriting\\n' >&2; exit 255");
        EXPECT_EQ(remote_write_file(record, "dir/f", "data").error(),
                  "The save stopped part way through rewriting the file; it may be incomplete: "
                  "dir/f");
    }
    {
        FakeSsh ssh("cat >/dev/null; printf '\\036rewriting\\n\\036written\\n' >&2; exit 255");
        EXPECT_TRUE(remote_write_file(record, "dir/f", "data").has_value());
    }
    FakeSsh ssh(
        "cat >/dev/null; printf '\\036rewriting\\n[Errno 5] Input/output error' >&2; exit 1");
    EXPECT_EQ(remote_write_file(record, "dir/f", "data").error(), "[Errno 5] Input/output error");
}

TEST_F(FakeSshTest, StartFailuresGetTheOperationsStartText) {
    ScopedEnvironmentVariable no_ssh("PATH", "/nonexistent");
    const SshConnection record = connection();
    const std::string error = "No such file or directory (os error 2)";
    EXPECT_EQ(list_remote_dir(record, "/").error(), "SSH command error: " + error);
    EXPECT_EQ(read_remote_file(record, "a").error().message, "SSH read error: " + error);
    EXPECT_EQ(remote_download(record, "a").error(), "SSH download error: " + error);
    EXPECT_EQ(remote_mkdir(record, "d").error(), "SSH mkdir error: " + error);
    EXPECT_EQ(remote_delete(record, "f", RemoteEntry::File).error(), "SSH delete error: " + error);
    EXPECT_EQ(remote_rename(record, "a", "b").error(), "SSH rename error: " + error);
    EXPECT_EQ(remote_write_file(record, "w", "").error(),
              "Failed to spawn ssh write process: " + error);
}

// Whatever the remote side does, the viewer's read holds no more than its bound: the READ
// program's refusal names the size it found, and a run that sends more than the bound is
// stopped without waiting for its end. A download gives the plain failure texts.
TEST_F(FakeSshTest, ViewerReadStopsAtItsBound) {
    {
        FakeSsh ssh("printf 1288490189 >&2; exit 3");
        expect_too_large(read_remote_file(connection(), "f"), read_size_limit, 1288490189);
    }
    {
        FakeSsh ssh("exit 3");
        expect_too_large(read_remote_file(connection(), "f"), read_size_limit, std::nullopt);
        EXPECT_EQ(remote_download(connection(), "f").error(), "Failed to download file: f");
    }
    FakeSsh ssh("case \"${@: -1}\" in python3*) head -c 70000000 /dev/zero; exec sleep 60;; esac");
    expect_too_large(read_remote_file(connection(), "f"), read_size_limit, std::nullopt);
}

TEST_F(FakeSshTest, ListingThatIsNotJsonQuotesTheWholeOutput) {
    FakeSsh ssh("printf 'Last login: today\\n[]\\n'");
    const SshConnection record = connection();
    EXPECT_EQ(list_remote_dir(record, "/").error(),
              "Failed to parse directory listing: expected value at line 1 column 1 (output: "
              "Last login: today\n[]\n)");
}

// Data the remote side never reads ends in a broken pipe, reported as such, not as a crash.
TEST_F(FakeSshTest, WriteToARemoteThatStopsReading) {
    ignore_broken_pipe();
    FakeSsh ssh("exit 0");
    const SshConnection record = connection();
    EXPECT_EQ(remote_write_file(record, "w", std::string(8 << 20, 'x')).error(),
              "Failed to write to ssh stdin: Broken pipe (os error 32)");
}
