#include <SolvoEarthUtil/scene/NodeSearch.h>

#include <cstring>

namespace SolvoEarthUtil {

std::set<osg::Node*> g_skips;

namespace {

bool isSkipped(const osg::Node* node)
{
    return g_skips.count(const_cast<osg::Node*>(node)) != 0;
}

bool classMatches(const osg::Node& node, const char* className)
{
    return !className || std::strcmp(className, node.className()) == 0;
}

bool nameMatches(const osg::Node& node, const std::string& name)
{
    return name.empty() || node.getName().find(name) != std::string::npos;
}

// Walks below `group` in child order, parents before descendants, skipping g_skips entries and
// their subtrees. Stops as soon as `visit` answers false.
template <typename Visit>
bool walk(osg::Group* group, Visit& visit)
{
    if (!group || isSkipped(group))
        return true;
    for (unsigned int i = 0; i < group->getNumChildren(); ++i)
    {
        osg::Node* child = group->getChild(i);
        if (!child || isSkipped(child))
            continue;
        if (!visit(child) || !walk(child->asGroup(), visit))
            return false;
    }
    return true;
}

struct ByName
{
    const std::string& name;
    const char* className;
    bool operator()(const osg::Node& node) const { return classMatches(node, className) && nameMatches(node, name); }
};

struct ByClass
{
    const char* className;
    bool operator()(const osg::Node& node) const
    {
        return !className || className[0] == '\0' || classMatches(node, className);
    }
};

template <typename Matches>
void collect(std::vector<osg::Node*>& out, osg::Group* group, const Matches& matches)
{
    auto visit = [&](osg::Node* node) {
        if (matches(*node))
            out.push_back(node);
        return true;
    };
    walk(group, visit);
}

template <typename Matches>
osg::Node* first(osg::Group* group, const Matches& matches)
{
    osg::Node* found = nullptr;
    auto visit = [&](osg::Node* node) {
        if (matches(*node))
            found = node;
        return found == nullptr;
    };
    walk(group, visit);
    return found;
}

} // namespace

std::vector<osg::Node*> findNodesByName(osg::Group* group, const std::string& name, const char* className)
{
    std::vector<osg::Node*> out;
    collect(out, group, ByName{name, className});
    return out;
}

void findNodesByName(std::vector<osg::Node*>& out, osg::Group* group, const std::string& name, const char* className)
{
    collect(out, group, ByName{name, className});
}

osg::Node* findNodeByName(osg::Group* group, const std::string& name, const char* className)
{
    return first(group, ByName{name, className});
}

std::vector<osg::Node*> findNodesByClassName(osg::Group* group, const char* className)
{
    std::vector<osg::Node*> out;
    collect(out, group, ByClass{className});
    return out;
}

void findNodesByClassName(std::vector<osg::Node*>& out, osg::Group* group, const char* className)
{
    collect(out, group, ByClass{className});
}

osg::Node* findNodeByClassName(osg::Group* group, const char* className)
{
    return first(group, ByClass{className});
}

} // namespace SolvoEarthUtil
