#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Program>
#include <osg/Referenced>
#include <osg/Shader>

#include <mutex>
#include <vector>

namespace SolvoEarthUtil {

/// The tint programs of one progress display, built once and shared, so a date change creates no
/// shader objects. Each style has one fragment shader; the programs that run it are shared by up
/// to kStateSetsPerProgram state sets each, because every state set holding a program is listed
/// among the program's parents and taking one out of that list is a linear search: one program
/// for a whole model would make untinting quadratic in the tinted geodes. Safe to use from
/// several threads.
class SOLVOEARTHKITS_EXPORT TintPrograms : public osg::Referenced
{
public:
    static constexpr unsigned int kStateSetsPerProgram = 256;

    /// A program of `style` (1 to 3) with room for one more state set; null for other styles.
    osg::Program* get(int style);

    /// The style whose shader `program` runs when it is one of these programs, else 0.
    int styleOf(const osg::Program* program);

protected:
    ~TintPrograms() override = default;

private:
    std::mutex _mutex; // guards _shaders and _programs
    osg::ref_ptr<osg::Shader> _shaders[4];
    std::vector<osg::ref_ptr<osg::Program>> _programs[4];
};

} // namespace SolvoEarthUtil
