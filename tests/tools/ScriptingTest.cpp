// vantrel-convert driven by scripts: the JSON lines of --json (every line
// parsed, escapes included), a stop while two files convert, and the GNU
// parallel recipe of the README with this machine as its only host, also
// with several processes naming outputs in one folder at once.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// ---- a strict reader of one line's JSON object ----

// A member's value: a string, a number or null (all that the lines hold).
struct TJsonValue {
    enum Kind { Null, String, Number } Type = Null;
    std::string Text;
    long long Integer = 0;
};
using TJsonObject = std::map<std::string, TJsonValue>;

class TJsonReader {
public:
    explicit TJsonReader(const std::string& text) : s_(text) {}

    // The object, or an error text in `error`.
    TJsonObject Object(std::string& error) {
        TJsonObject object;
        try {
            Expect('{');
            if (Peek() == '}') {
                ++i_;
            } else {
                for (;;) {
                    const std::string name = String();
                    Expect(':');
                    if (object.count(name)) Fail("member twice: " + name);
                    object[name] = Value();
                    if (Peek() == ',') {
                        ++i_;
                        continue;
                    }
                    Expect('}');
                    break;
                }
            }
            if (i_ != s_.size()) Fail("text after the object");
        } catch (const std::runtime_error& e) {
            error = e.what();
        }
        return object;
    }

private:
    [[noreturn]] void Fail(const std::string& why) {
        throw std::runtime_error(why + " at " + std::to_string(i_));
    }
    char Peek() {
        if (i_ >= s_.size()) Fail("unexpected end");
        return s_[i_];
    }
    void Expect(char c) {
        if (Peek() != c) Fail(std::string("expected ") + c);
        ++i_;
    }
    TJsonValue Value() {
        TJsonValue value;
        if (s_.compare(i_, 4, "null") == 0) {
            i_ += 4;
        } else if (Peek() == '"') {
            value.Type = TJsonValue::String;
            value.Text = String();
        } else {
            value.Type = TJsonValue::Number;
            const std::size_t start = i_;
            if (Peek() == '-') ++i_;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_])))
                ++i_;
            if (i_ == start) Fail("no value");
            value.Integer = std::stoll(s_.substr(start, i_ - start));
        }
        return value;
    }
    unsigned Hex4() {
        if (i_ + 4 > s_.size()) Fail("short \\u");
        const unsigned v = std::stoul(s_.substr(i_, 4), nullptr, 16);
        i_ += 4;
        return v;
    }
    static void AppendUtf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    std::string String() {
        Expect('"');
        std::string out;
        for (;;) {
            const unsigned char c = static_cast<unsigned char>(Peek());
            ++i_;
            if (c == '"') return out;
            if (c < 0x20) Fail("raw control character");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            const char e = Peek();
            ++i_;
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u':
                AppendUtf8(out, Hex4());
                break;
            default:
                Fail("bad escape");
            }
        }
    }
    const std::string& s_;
    std::size_t i_ = 0;
};

// The lines of `text`, each an object with exactly the five members of the
// format; a line that is not fails the test.
std::vector<TJsonObject> ParseLines(const std::string& text) {
    std::vector<TJsonObject> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::string error;
        TJsonObject object = TJsonReader(line).Object(error);
        EXPECT_TRUE(error.empty()) << error << ": " << line;
        std::set<std::string> names;
        for (const auto& [name, value] : object)
            names.insert(name);
        EXPECT_EQ(names, (std::set<std::string>{"error", "file", "output", "percent", "state"}))
            << line;
        EXPECT_EQ(object["file"].Type, TJsonValue::String) << line;
        EXPECT_EQ(object["state"].Type, TJsonValue::String) << line;
        EXPECT_EQ(object["percent"].Type, TJsonValue::Number) << line;
        EXPECT_GE(object["percent"].Integer, 0) << line;
        EXPECT_LE(object["percent"].Integer, 100) << line;
        lines.push_back(std::move(object));
    }
    return lines;
}

// The lines of one file, in order.
std::vector<TJsonObject> LinesOf(const std::vector<TJsonObject>& lines, const std::string& file) {
    std::vector<TJsonObject> of;
    for (const TJsonObject& line : lines)
        if (line.at("file").Text == file) of.push_back(line);
    return of;
}

std::string Q(const std::string& text) {
    return testsupport::ShellQuote(text);
}

class Scripting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Dir = new testsupport::TempDir;
        Clip = Dir->file("clip.avi");
        ASSERT_TRUE(testsupport::MakeOneSecondAvi(Clip));
    }
    static void TearDownTestSuite() { delete Dir; }

    // The environment of a run: a home and a settings folder of its own.
    std::string Env() const {
        return "HOME=" + Q(Home.file("home")) + " XDG_CONFIG_HOME=" + Q(Home.file("cfg")) + " ";
    }
    // Runs the format form with stdout and stderr kept apart.
    int RunFormat(const std::string& args, std::string& out, std::string& err) {
        const std::string outFile = Home.file("stdout"), errFile = Home.file("stderr");
        const auto r =
            testsupport::RunCommand("( " + Env() + Q(VANTREL_CONVERT) + " --format " + args + " >" +
                                    Q(outFile) + " 2>" + Q(errFile) + " )");
        out = testsupport::ReadFileText(outFile);
        err = testsupport::ReadFileText(errFile);
        return r.exitCode;
    }

    static testsupport::TempDir* Dir;
    static std::string Clip;
    testsupport::TempDir Home;
};
testsupport::TempDir* Scripting::Dir = nullptr;
std::string Scripting::Clip;

} // namespace

// Every line on stdout is one object; each file goes queued, converting,
// finished, with its output; files that cannot be opened fail with the
// reason; names needing escapes come back as they were.
TEST_F(Scripting, JsonLinesFollowEveryFile) {
    const std::string odd = Dir->file("say \"hi\"\\ \t\x01 ü.avi");
    const std::string notUtf8 = Dir->file("bad\xff.avi");
    fs::copy_file(Clip, odd, fs::copy_options::overwrite_existing);
    fs::copy_file(Clip, notUtf8, fs::copy_options::overwrite_existing);
    const std::string broken = Dir->file("broken.avi");
    std::ofstream(broken) << "not media";
    const std::string missing = Dir->file("missing.avi");
    const std::string folder = Home.file("o");
    std::string out, err;
    const int status =
        RunFormat("104 --json --jobs 2 --output-dir " + Q(folder) + " " + Q(Clip) + " " + Q(odd) +
                      " " + Q(broken) + " " + Q(missing) + " " + Q(notUtf8),
                  out, err);
    EXPECT_EQ(status, 1) << err;
    // The human text is on stderr only.
    EXPECT_NE(err.find("3 of 5 files converted (2 failed, 0 stopped)"), std::string::npos) << err;
    EXPECT_EQ(out.find("converted"), std::string::npos) << out;
    const std::vector<TJsonObject> lines = ParseLines(out);
    ASSERT_FALSE(lines.empty()) << err;
    EXPECT_EQ(out.back(), '\n');

    std::set<std::string> outputs;
    const std::string shownNotUtf8 = Dir->file("bad\xEF\xBF\xBD.avi");
    for (const std::string& file : {Clip, odd, shownNotUtf8}) {
        SCOPED_TRACE(file);
        const std::vector<TJsonObject> of = LinesOf(lines, file);
        ASSERT_GE(of.size(), 2u);
        EXPECT_EQ(of.front().at("state").Text, "queued");
        EXPECT_EQ(of.back().at("state").Text, "finished");
        EXPECT_EQ(of.back().at("percent").Integer, 100);
        EXPECT_EQ(of.back().at("error").Type, TJsonValue::Null);
        long long last = 0;
        for (std::size_t i = 1; i + 1 < of.size(); ++i) {
            EXPECT_EQ(of[i].at("state").Text, "converting");
            EXPECT_GE(of[i].at("percent").Integer, last);
            last = of[i].at("percent").Integer;
        }
        const std::string output = of.back().at("output").Text;
        for (const TJsonObject& line : of)
            EXPECT_EQ(line.at("output").Text, output);
        EXPECT_EQ(fs::path(output).parent_path(), fs::path(folder));
        outputs.insert(output);
        if (file == shownNotUtf8) continue; // its output's name has the byte itself
        EXPECT_EQ(testsupport::ProbeValue(output, "format=format_name"), "avi");
        EXPECT_EQ(testsupport::ProbeValue(output, "stream=codec_type", "v:0"), "video");
        EXPECT_NEAR(testsupport::DurationSeconds(output), 1.0, 0.15);
    }
    EXPECT_EQ(outputs.size(), 3u);
    EXPECT_EQ(LinesOf(lines, odd).back().at("output").Text,
              folder + "/say \"hi\"\\ \t\x01 ü_(new).avi");
    for (const std::string& file : {broken, missing}) {
        SCOPED_TRACE(file);
        const std::vector<TJsonObject> of = LinesOf(lines, file);
        ASSERT_EQ(of.size(), 1u);
        EXPECT_EQ(of[0].at("state").Text, "failed");
        EXPECT_EQ(of[0].at("output").Type, TJsonValue::Null);
        EXPECT_EQ(of[0].at("percent").Integer, 0);
        EXPECT_EQ(of[0].at("error").Type, TJsonValue::String);
    }
    EXPECT_NE(LinesOf(lines, missing)[0].at("error").Text.find("No such file or directory"),
              std::string::npos);
}

// Ctrl-C while two files convert: both stop with what they converted kept
// as a readable file, the file that never started has no output at all, and
// nothing is left half-written.
TEST_F(Scripting, InterruptDuringTwoAtATimeLeavesNoHalfFile) {
    const std::string longClip = Dir->file("long.avi");
    ASSERT_TRUE(testsupport::MakeMedia(
        longClip, "-f lavfi -i testsrc2=size=320x240:rate=25 -t 60 -c:v mpeg4 -q:v 5"));
    std::vector<std::string> sources;
    for (const char* name : {"a.avi", "b.avi", "c.avi"}) {
        sources.push_back(Dir->file(name));
        fs::copy_file(longClip, sources.back(), fs::copy_options::overwrite_existing);
    }
    const std::string folder = Home.file("o");
    fs::create_directories(Home.file("home"));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::setenv("HOME", Home.file("home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", Home.file("cfg").c_str(), 1);
        ::execl(VANTREL_CONVERT, VANTREL_CONVERT, "--format", "102", "--json", "--jobs", "2",
                "--output-dir", folder.c_str(), sources[0].c_str(), sources[1].c_str(),
                sources[2].c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    bool signalled = false;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
        const auto converting = [&out](const std::string& source) {
            return out.find("{\"file\":\"" + source + "\",\"state\":\"converting\"") !=
                   std::string::npos;
        };
        if (!signalled && converting(sources[0]) && converting(sources[1])) {
            ::kill(child, SIGINT);
            signalled = true;
        }
    }
    ::close(fds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(signalled) << out;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::vector<TJsonObject> lines = ParseLines(out);
    int stopped = 0;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(sources[i]);
        const std::vector<TJsonObject> of = LinesOf(lines, sources[i]);
        ASSERT_FALSE(of.empty());
        const TJsonObject& end = of.back();
        const std::string output = end.at("output").Text;
        ASSERT_EQ(end.at("output").Type, TJsonValue::String);
        EXPECT_EQ(testsupport::ProbeValue(output, "stream=codec_name", "v:0"), "mpeg4");
        if (end.at("state").Text == "stopped") {
            ++stopped;
            EXPECT_LT(end.at("percent").Integer, 100);
            EXPECT_LT(testsupport::DurationSeconds(output), 59.0);
        } else {
            // Faster than the signal: then it is whole.
            EXPECT_EQ(end.at("state").Text, "finished");
            EXPECT_NEAR(testsupport::DurationSeconds(output), 60.0, 0.5);
        }
    }
    EXPECT_GE(stopped, 1);
    const std::vector<TJsonObject> third = LinesOf(lines, sources[2]);
    ASSERT_EQ(third.size(), 2u) << out;
    EXPECT_EQ(third[0].at("state").Text, "queued");
    EXPECT_EQ(third[1].at("state").Text, "stopped");
    EXPECT_EQ(third[1].at("output").Type, TJsonValue::Null);
    EXPECT_FALSE(fs::exists(third[0].at("output").Text));
    EXPECT_EQ(testsupport::PartFiles(folder), std::vector<std::string>{});
    for (const std::string& source : sources)
        EXPECT_EQ(fs::file_size(source), fs::file_size(longClip));
}

// The README's recipe with this machine as the only host ("--sshlogin :"
// runs the jobs here, without ssh): every file converted once into the
// shared folder. The files have one name in different folders, so the
// processes running at once all want the same output name first; each
// output gets a name of its own and none is overwritten.
TEST_F(Scripting, GnuParallelSpreadsTheBatch) {
    if (testsupport::RunCommand("parallel --version").exitCode != 0)
        GTEST_SKIP() << "GNU parallel is not installed (scripts/packages.txt)";
    std::vector<std::string> sources;
    for (const char* folder : {"x", "y", "z", "w"}) {
        fs::create_directories(Dir->file(folder));
        sources.push_back(Dir->file(std::string(folder) + "/take.avi"));
        fs::copy_file(Clip, sources.back(), fs::copy_options::overwrite_existing);
    }
    const std::string folder = Home.file("shared_out");
    fs::create_directories(Home.file("home"));
    std::string list;
    for (const std::string& source : sources)
        list += " " + Q(source);
    const std::string errFile = Home.file("stderr");
    const auto r =
        testsupport::RunCommand("( cd " + Q(Home.path().string()) + " && " + Env() +
                                "parallel --will-cite --sshlogin 4/: --line-buffer " +
                                Q(VANTREL_CONVERT) + " --format 200 --json --output-dir " +
                                Q(folder) + " {} :::" + list + " 2>" + Q(errFile) + " )");
    ASSERT_EQ(r.exitCode, 0) << r.output << testsupport::ReadFileText(errFile);
    const std::string json = r.output; // the jobs' standard output only
    const std::vector<TJsonObject> lines = ParseLines(json);
    std::set<std::string> outputs;
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        const std::vector<TJsonObject> of = LinesOf(lines, source);
        ASSERT_FALSE(of.empty()) << r.output;
        EXPECT_EQ(of.back().at("state").Text, "finished");
        const std::string output = of.back().at("output").Text;
        outputs.insert(output);
        EXPECT_EQ(testsupport::ProbeValue(output, "stream=codec_name", "a:0"), "mp3");
        EXPECT_NEAR(testsupport::DurationSeconds(output), 1.0, 0.15);
    }
    EXPECT_EQ(outputs,
              (std::set<std::string>{folder + "/take_(new).mp3", folder + "/take_(new_1).mp3",
                                     folder + "/take_(new_2).mp3", folder + "/take_(new_3).mp3"}));
    EXPECT_EQ(testsupport::PartFiles(folder), std::vector<std::string>{});
}
