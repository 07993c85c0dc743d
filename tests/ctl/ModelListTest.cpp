// tarvelctl --list as scripts read it; the files that cannot read the model
// table (the man page, the Ansible collection) name exactly its models.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ClockModel.h"
#include "CtlRunner.h"
#include "TestSupport.h"

namespace {

class ModelList : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
    }
    // The lines tarvelctl prints, after checking it did.
    std::vector<std::string> Lines(const std::vector<std::string>& args) {
        const TCtlResult r = m_ctl.Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> lines;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
};

// A listed name picks its line's model, whose commands carry the text beside
// it; the commands are every text sent but the set-time, sorted, once each.
TEST_F(ModelList, ListsTheModelsWithTheirCommandTextAndEveryCommand) {
    const std::vector<std::string> models = Lines({"--list", "models"});
    ASSERT_EQ(models.size(), static_cast<std::size_t>(CClockModel::MODEL_COUNT));
    std::set<std::string> sent;
    for (std::size_t i = 0; i < models.size(); ++i) {
        const std::size_t tab = models[i].find('\t');
        CClockModel model;
        model.SetModel(CClockModel::FindModel(models[i].substr(0, tab), true));
        EXPECT_EQ(model.GetModel(), static_cast<int>(i)) << models[i];
        for (int c = 0; c < CLOCK_COMMAND_COUNT; ++c) {
            std::string text;
            model.FormatCommand(text, static_cast<TClockCommand>(c), std::tm{});
            if (c != SET_UTC_TIME) sent.insert(text);
            if (c == ACTIVE_TO_PC) {
                EXPECT_EQ(text, "1," + models[i].substr(tab + 1) + "XT") << models[i];
            }
        }
    }
    EXPECT_EQ(Lines({"--list", "commands"}), std::vector<std::string>(sent.begin(), sent.end()));
}

// Where a file names the models: after anchor, the words between prefix and
// suffix; all the models, their range "FIRST to LAST" (or "FIRST..LAST"), or
// the first (taken when nothing names one).
TEST_F(ModelList, FilesThatCannotReadTheTableNameExactlyItsModels) {
    enum TWords { All, Range, Ends, First };
    const struct {
        const char *path, *anchor, *prefix, *suffix;
        TWords words;
    } mentions[] = {
        {"man/tarvelctl.1", "-\\-model \" K20n\"", "The clock model, ", ", or", Range},
        {"man/tarvelctl.1", "-\\-model \" K20n\"", "the stored model, else ", ".\n", First},
        {"contrib/ansible/plugins/modules/tarvel_clock.py", "\n  model:\n", "choices: [", "]", All},
        {"contrib/ansible/plugins/modules/tarvel_facts.py", "\n  model:\n", "choices: [", "]", All},
        {"contrib/ansible/plugins/module_utils/tarvelctl.py", "model=dict(", "choices=[", "]", All},
        {"README.md", "", "`--model ", " and", Ends},
    };
    std::vector<std::string> names;
    for (const auto& line : Lines({"--list", "models"})) names.push_back(line.substr(0, line.find('\t')));
    ASSERT_FALSE(names.empty());
    for (const auto& m : mentions) {
        const std::string text = ReadWholeFile(std::string(TARVEL_SOURCE_DIR) + "/" + m.path);
        const std::size_t from = text.find(m.prefix, text.find(m.anchor));
        const std::size_t begin = from == std::string::npos ? text.size() : from + std::string(m.prefix).size();
        std::string words = text.substr(begin, text.find(m.suffix, begin) - begin);
        for (char& c : words)
            if (c == ',' || c == '\'' || c == '`' || c == '.') c = ' ';
        std::istringstream in(words);
        std::vector<std::string> got;
        for (std::string w; in >> w;) got.push_back(w);
        const std::vector<std::string> want = m.words == All     ? names
                                              : m.words == Range ? std::vector<std::string>{names.front(), "to", names.back()}
                                              : m.words == Ends  ? std::vector<std::string>{names.front(), names.back()}
                                                                 : std::vector<std::string>{names.front()};
        EXPECT_EQ(got, want) << m.path << " after " << m.prefix;
    }
}

}  // namespace
