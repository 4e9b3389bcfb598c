#include "core/exception.h"
#include "script/run_game.h"
#include "script/runtime.h"
#include "script/variables.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace TextScript {
namespace {

using kestrel::ExceptionHandle;

std::string JumpLines()
{
    std::string out;
    for (int i = 0; i < 20; ++i)
        out += "J" + std::to_string(i) + "\n";
    return out;
}

// Every service of a game run, recording what the run asks of it.
class HostDouble : public GroupFactory,
                   public TitleMenu,
                   public SaveStore,
                   public SceneRecords,
                   public RunLists,
                   public MenuItems {
public:
    std::unique_ptr<ScriptStateGroup> CreateGroup() override
    {
        log.push_back("create group");
        return std::make_unique<ScriptStateGroup>();
    }
    void ClearSceneList(ScriptStateGroup&) override { log.push_back("clear scenes"); }
    std::int32_t Show() override
    {
        log.push_back("title");
        EXPECT_NE(Globals().runningGroup, nullptr);
        if (onTitle)
            onTitle();
        return titleAnswer;
    }
    void LoadGlobals() override { log.push_back("load globals"); }
    void SaveGlobals() override { log.push_back("save globals"); }
    void LoadGame(std::int32_t slot) override
    {
        log.push_back("load slot " + std::to_string(slot));
        Globals().startPage = loadedPage;
    }
    void SetGlobalFlag(std::int32_t flag) override { log.push_back("flag " + std::to_string(flag)); }
    void MarkEmpty() override { log.push_back("records empty"); }
    void Create() override { log.push_back("create lists"); }
    void Free() override { log.push_back("free lists"); }
    void Enable(std::int32_t id) override { log.push_back("enable " + std::to_string(id)); }

    std::vector<std::string> log;
    std::int32_t titleAnswer = 1;
    std::int32_t loadedPage = -1;
    std::function<void()> onTitle;
};

class RunGameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Variables().Clear();
        Globals() = RunGlobals{};
        m_folder = std::filesystem::temp_directory_path() /
            ("kestrel_rungame_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        Write("iv.txt", JumpLines());
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    void Write(const std::string& name, const std::string& text) { std::ofstream(m_folder / name) << text; }

    std::int32_t Run(std::int32_t previous)
    {
        m_archive = kestrel::ComPtr<kestrel::IArchive>::Adopt(kestrel::NewDirArchive(m_folder));
        GameRunHost host{*m_archive, m_host, m_host, m_host, m_host, m_host, m_host};
        return RunGame(host, u"_start.txt", previous);
    }

    std::filesystem::path m_folder;
    kestrel::ComPtr<kestrel::IArchive> m_archive;
    HostDouble m_host;
    kestrel::test::DebugCapture m_debug;
};

const std::vector<std::string> kPreparation = {"create group", "clear scenes", "records empty", "create lists",
    "load globals", "enable 40003"};
const std::vector<std::string> kCleanUp = {"save globals", "clear scenes", "records empty", "free lists"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

TEST_F(RunGameTest, TitleAnswersMapToResults)
{
    Write("_start.txt", ".PST PLAYED = 1\n");
    struct Case {
        std::int32_t answer;
        std::int32_t result;
        bool played;
    };
    const Case cases[] = {{-1, 1, false}, {0, 0, false}, {1, 0, true}};
    for (const Case& c : cases) {
        m_host.log.clear();
        m_host.titleAnswer = c.answer;
        EXPECT_EQ(Run(0), c.result) << c.answer;
        EXPECT_EQ(Variables().Value(u"PLAYED", 0), c.played ? 1 : 0);
        if (!c.played) {
            EXPECT_EQ(m_host.log, Join({kPreparation, {"title"}, kCleanUp})) << c.answer;
        }
        EXPECT_EQ(Globals().runningGroup, nullptr);
    }
    EXPECT_EQ(m_host.log,
        Join({kPreparation, {"title", "records empty", "enable 40003", "enable 40011"}, kCleanUp}));
}

TEST_F(RunGameTest, LoadingASlotResumesAtItsPage)
{
    Write("_start.txt", ".PST P = 0\n\n.PST P = 1\n\n.PST P = 2\n");
    m_host.loadedPage = 2;
    m_host.titleAnswer = 4; // "load slot 3" from the title
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(Variables().Value(u"P", -1), 2);
    EXPECT_NE(std::find(m_host.log.begin(), m_host.log.end(), "load slot 3"), m_host.log.end());

    // A result of 2 or more from the previous run loads without the title.
    m_host.log.clear();
    m_host.loadedPage = 1;
    EXPECT_EQ(Run(3), 0);
    EXPECT_EQ(std::count(m_host.log.begin(), m_host.log.end(), "title"), 0);
    EXPECT_NE(std::find(m_host.log.begin(), m_host.log.end(), "load slot 2"), m_host.log.end());
}

TEST_F(RunGameTest, StartLabelRequestAndReplayFlag)
{
    Write("_start.txt", ".PST SKIPPED = 1\n\n.LAB PRSK\n.PST REPR = 1\n");
    m_host.onTitle = [] { Globals().startLabelRequest = true; };
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(Variables().Value(u"SKIPPED", 0), 0);
    EXPECT_FALSE(Globals().startLabelRequest);
    EXPECT_NE(std::find(m_host.log.begin(), m_host.log.end(), "flag 16383"), m_host.log.end());
}

TEST_F(RunGameTest, ScriptWithoutTheStartLabelStartsAtTheBeginning)
{
    Write("_start.txt", ".PST STARTED = 1\n");
    m_host.onTitle = [] { Globals().startLabelRequest = true; };
    EXPECT_EQ(Run(0), 0);
    EXPECT_EQ(Variables().Value(u"STARTED", 0), 1);
}

TEST_F(RunGameTest, ExceptionsCleanUpFirst)
{
    Write("_start.txt", ".PST A = 1\n");
    m_host.onTitle = [] { kestrel::ThrowExceptionOfType(ExceptionHandle::kTypeQuit, u"main", u"Quit"); };
    EXPECT_EQ(Run(0), 0); // the quit ends the program quietly
    EXPECT_EQ(m_host.log, Join({kPreparation, {"title"}, kCleanUp}));

    m_host.log.clear();
    m_host.onTitle = [] { kestrel::ThrowException(u"script/scr_gui", u"セーブファイルを開けません\n"); };
    EXPECT_THROW(Run(0), ExceptionHandle);
    EXPECT_EQ(m_host.log, Join({kPreparation, {"title"}, kCleanUp}));
    EXPECT_EQ(Globals().runningGroup, nullptr);

    // A runtime error of the script is reported and passed on after the clean-up.
    m_host.log.clear();
    m_host.onTitle = nullptr;
    Write("_start.txt", ".JMP NOWHERE\n");
    EXPECT_THROW(Run(0), ExceptionHandle);
    EXPECT_EQ(m_host.log.back(), "free lists");
}

TEST_F(RunGameTest, CompileErrorsAndMissingFilesLeaveBeforeTheRun)
{
    Write("_start.txt", ".NOSUCH A\n");
    try {
        Run(0);
        ADD_FAILURE();
    } catch (const ExceptionHandle& e) {
        EXPECT_EQ(e.Source(), u"_start.txt");
        EXPECT_EQ(e.Message(), u"コマンド名が違います。");
    }
    EXPECT_EQ(m_host.log, (std::vector<std::string>{"create group"}));
    EXPECT_EQ(Globals().runningGroup, nullptr);

    std::filesystem::remove(m_folder / "_start.txt");
    try {
        Run(0);
        ADD_FAILURE();
    } catch (const ExceptionHandle& e) {
        EXPECT_EQ(e.Source(), u"script/scr_gui");
        EXPECT_EQ(e.Message(), u"Script: file not found '_start.txt'");
    }
}

} // namespace
} // namespace TextScript
