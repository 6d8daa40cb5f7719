#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Referenced>
#include <osg/ref_ptr>

#include <string>

/// A listener through which scene code reports results to whoever hosts the viewer. Hosts derive
/// from it and override the overloads they care about; the base ones do nothing and answer true.
/// Reporters ignore the answers.
class SOLVOEARTHKITS_EXPORT CallBack : public osg::Referenced
{
public:
    CallBack() = default;
    /// A copy has a reference count of its own; there is nothing else to copy.
    CallBack(const CallBack&) : osg::Referenced() {}
    CallBack& operator=(const CallBack&) { return *this; }
    ~CallBack() override = default;

    virtual bool response(std::string text, int value);
    virtual bool response(std::string text);
    virtual bool response(int value);
};
