#include <SolvoEarthKits/progress/TintPrograms.h>

#include <SolvoEarthKits/progress/TaskStyle.h>

namespace SolvoEarthUtil {

osg::Program* TintPrograms::get(int style)
{
    if (style < 1 || style > 3)
        return nullptr;
    std::lock_guard<std::mutex> lock(_mutex);
    for (const osg::ref_ptr<osg::Program>& program : _programs[style])
        if (program->getNumParents() < kStateSetsPerProgram)
            return program.get();

    if (!_shaders[style].valid())
        _shaders[style] = new osg::Shader(osg::Shader::FRAGMENT, tintShaderSource(style));
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->addShader(_shaders[style].get());
    _programs[style].push_back(program);
    return program.get();
}

int TintPrograms::styleOf(const osg::Program* program)
{
    if (!program || program->getNumShaders() != 1)
        return 0;
    std::lock_guard<std::mutex> lock(_mutex);
    for (int style = 1; style <= 3; ++style)
        if (_shaders[style].valid() && program->getShader(0) == _shaders[style].get())
            return style;
    return 0;
}

} // namespace SolvoEarthUtil
