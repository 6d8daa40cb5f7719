#include "ProgressFixtures.h"

#include <gtest/gtest.h>

#include <random>

using namespace veltra::test;

namespace {

const std::string kTasks = R"([{"wbs":"1","name":"walls","type":"拆","startP":"2015-01-01","finishP":"2015-02-01",)"
                           R"("startA":"2015-01-03","finishA":"2015-02-05","notes":"n","milestone":true},)"
                           R"({"summary":true,"wbs":"2"},{"wbs":"1.2","startP":"2015-1-5","finishP":"x"}])";
const std::string kBinding = R"({"1":[1,2,3],"1.2":[3,4],"9":[5]})";

// Fragments that make structurally valid JSON of the wrong shape, or numbers at the edges.
const char* const kFragments[] = {"null",         "true",           "[]",          "{}",    "\"\"", "0",
                                  "-1",           "2147483648",     "-2147483649", "1e400", "1.5",  "[[]]",
                                  "{\"wbs\":{}}", "\"2015-01-01\"", "\"拆\"",      ","};

std::string mutate(const std::string& base, std::mt19937& random)
{
    std::string text = base;
    switch (random() % 6)
    {
    case 0: // truncate
        return text.substr(0, random() % (text.size() + 1));
    case 1: // flip bytes
        for (int i = 0, n = 1 + static_cast<int>(random() % 4); i < n && !text.empty(); ++i)
            text[random() % text.size()] = static_cast<char>(random() % 256);
        return text;
    case 2: // splice in a fragment
    {
        const std::string fragment = kFragments[random() % (sizeof(kFragments) / sizeof(kFragments[0]))];
        const size_t at = random() % (text.size() + 1);
        const size_t cut = std::min<size_t>(random() % 8, text.size() - at);
        return text.substr(0, at) + fragment + text.substr(at + cut);
    }
    case 3: // a fragment alone, or in an array
        return random() % 2
                   ? std::string(kFragments[random() % (sizeof(kFragments) / sizeof(kFragments[0]))])
                   : "[" + std::string(kFragments[random() % (sizeof(kFragments) / sizeof(kFragments[0]))]) + "]";
    case 4: // random bytes
    {
        std::string bytes(random() % 64, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 256);
        return bytes;
    }
    default: // deep nesting
    {
        const size_t depth = 1 + random() % 5000;
        return std::string(depth, '[') + std::string(random() % 2 ? depth : depth / 2, ']');
    }
    }
}

} // namespace

// Random, truncated and wrongly shaped documents must give null or false, never a crash.
TEST(ProgressControlFuzz, CreateAndLoadTasksSurviveBrokenDocuments)
{
    osg::ref_ptr<osg::Group> model =
        makeModel({"Element [1]", "Element [2]", "Pipe:3", "Element [4]", "Element [2147483647]", "Element [-1]"});
    osg::ref_ptr<ProgressControl> survivor = makeControl(model.get(), kTasks, kBinding);
    ASSERT_TRUE(survivor.valid());

    std::mt19937 random(424242);
    int created = 0;
    for (int round = 0; round < 1500; ++round)
    {
        const std::string tasks = random() % 3 ? mutate(kTasks, random) : kTasks;
        const std::string binding = random() % 3 ? mutate(kBinding, random) : kBinding;
        const int flags = static_cast<int>(random() % 4);
        osg::ref_ptr<ProgressControl> control = makeControl(model.get(), tasks, binding, flags);
        if (control.valid())
        {
            ++created;
            control->setMode(static_cast<int>(random() % 4));
            control->setToday(control->getToday());
        }
        survivor->loadTasks(tasks, flags);
        survivor->setToday("2015-01-20");
    }
    EXPECT_GT(created, 0);
    EXPECT_EQ(model->getNumParents(), 1u) << "every discarded control let go of the model";
}
