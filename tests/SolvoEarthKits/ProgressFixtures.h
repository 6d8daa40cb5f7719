#pragma once

#include <SolvoEarthKits/progress/ProgressControl.h>
#include <SolvoEarthKits/progress/TaskStyle.h>

#include <osg/Geode>
#include <osg/Geometry>
#include <osg/Program>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace veltra::test {

/// A model of unlit white squares in a row along X, facing -Y, one geode per name.
inline osg::ref_ptr<osg::Group> makeModel(const std::vector<std::string>& names)
{
    osg::ref_ptr<osg::Group> root = new osg::Group;
    float x = 0.0f;
    for (const std::string& name : names)
    {
        osg::ref_ptr<osg::Geometry> quad = osg::createTexturedQuadGeometry(
            osg::Vec3(x, 0.0f, 0.0f), osg::Vec3(1.0f, 0.0f, 0.0f), osg::Vec3(0.0f, 0.0f, 1.0f));
        osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
        colours->push_back(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));
        quad->setColorArray(colours.get(), osg::Array::BIND_OVERALL);
        osg::ref_ptr<osg::Geode> geode = new osg::Geode;
        geode->setName(name);
        geode->addDrawable(quad.get());
        root->addChild(geode.get());
        x += 1.5f;
    }
    root->getOrCreateStateSet()->setMode(GL_LIGHTING, osg::StateAttribute::OFF);
    return root;
}

/// The geode named `name` directly below `root`, or null.
inline osg::Geode* geodeNamed(osg::Group* root, const std::string& name)
{
    for (unsigned int i = 0; i < root->getNumChildren(); ++i)
        if (root->getChild(i)->getName() == name)
            return root->getChild(i)->asGeode();
    return nullptr;
}

/// The tint style a geode shows now: 0 when it carries no tint program, else the style whose
/// shader source its program holds (-1 for an unknown program).
inline int tintOf(const osg::Node* node)
{
    const osg::StateSet* stateSet = node->getStateSet();
    const auto* program =
        stateSet ? dynamic_cast<const osg::Program*>(stateSet->getAttribute(osg::StateAttribute::PROGRAM)) : nullptr;
    if (!program)
        return 0;
    for (int style = 1; style <= 3; ++style)
        if (program->getNumShaders() == 1 &&
            program->getShader(0)->getShaderSource() == SolvoEarthUtil::tintShaderSource(style))
            return style;
    return -1;
}

inline bool shown(const osg::Node* node)
{
    return node->getNodeMask() == 0xFFFFFFFF;
}

inline bool hidden(const osg::Node* node)
{
    return node->getNodeMask() == 0;
}

/// One task of a task list, written as a JSON object.
struct TaskSpec
{
    TaskSpec(std::string code, std::string planStart = {}, std::string planFinish = {}, std::string actualStart = {},
             std::string actualFinish = {})
        : wbs(std::move(code)), startP(std::move(planStart)), finishP(std::move(planFinish)),
          startA(std::move(actualStart)), finishA(std::move(actualFinish))
    {}

    std::string wbs;
    std::string startP, finishP, startA, finishA;
    std::string name = "Task";
    std::string notes;
    std::string type;

    std::string json() const
    {
        std::string text = "{\"wbs\":\"" + wbs + "\",\"name\":\"" + name + "\"";
        auto add = [&text](const char* key, const std::string& value) {
            if (!value.empty())
                text += std::string(",\"") + key + "\":\"" + value + "\"";
        };
        add("startP", startP);
        add("finishP", finishP);
        add("startA", startA);
        add("finishA", finishA);
        add("notes", notes);
        add("type", type);
        return text + "}";
    }
};

inline std::string taskList(const std::vector<TaskSpec>& tasks)
{
    std::string text = "[";
    for (size_t i = 0; i < tasks.size(); ++i)
        text += (i ? "," : "") + tasks[i].json();
    return text + "]";
}

/// A binding document from WBS code to element ids.
inline std::string bindingOf(const std::map<std::string, std::vector<int>>& binding)
{
    std::string text = "{";
    bool first = true;
    for (const auto& [wbs, ids] : binding)
    {
        text += (first ? "\"" : ",\"") + wbs + "\":[";
        for (size_t i = 0; i < ids.size(); ++i)
            text += (i ? "," : "") + std::to_string(ids[i]);
        text += "]";
        first = false;
    }
    return text + "}";
}

/// A control taken over by a counted reference.
inline osg::ref_ptr<ProgressControl> makeControl(osg::Node* root, const std::string& tasks, const std::string& binding,
                                                 int flags = 3)
{
    return ProgressControl::create(root, tasks, binding, flags, false);
}

} // namespace veltra::test
