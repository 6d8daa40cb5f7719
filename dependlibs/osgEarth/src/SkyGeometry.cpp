#include "SkyGeometry.h"

#include <osg/BlendFunc>
#include <osg/CullFace>
#include <osg/Depth>
#include <osg/Point>
#include <osg/Program>

#include <algorithm>
#include <cmath>

namespace osgEarth {
namespace Util {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The sky cameras must not take part in the scene's bounds: stars far out would push every home view away.
struct NoBound : public osg::Node::ComputeBoundingSphereCallback
{
    osg::BoundingSphere computeBound(const osg::Node&) const override { return osg::BoundingSphere(); }
};

// A small deterministic generator (xorshift32): the star field must look the same on every machine and run.
class StarRandom
{
public:
    explicit StarRandom(std::uint32_t seed) : _state(seed != 0 ? seed : 0x9e3779b9u) {}
    double next()
    {
        _state ^= _state << 13;
        _state ^= _state >> 17;
        _state ^= _state << 5;
        return static_cast<double>(_state) / 4294967296.0;
    }

private:
    std::uint32_t _state;
};

const char* const kAtmosphereVertex = R"(#version 120
varying vec3 vEyeNormal;
varying vec3 vToEye;
varying vec3 vEarthNormal;
void main()
{
    vec4 eye = gl_ModelViewMatrix * gl_Vertex;
    vEyeNormal = gl_NormalMatrix * gl_Normal;
    vToEye = -eye.xyz;
    vEarthNormal = gl_Normal;
    gl_Position = ftransform();
}
)";

const char* const kAtmosphereFragment = R"(#version 120
uniform vec3 veltra_sunDirection;
varying vec3 vEyeNormal;
varying vec3 vToEye;
varying vec3 vEarthNormal;
void main()
{
    float facing = abs(dot(normalize(vEyeNormal), normalize(vToEye)));
    float rim = pow(1.0 - facing, 2.0);
    float day = smoothstep(-0.25, 0.25, dot(normalize(vEarthNormal), veltra_sunDirection));
    vec3 colour = mix(vec3(0.10, 0.25, 0.70), vec3(0.55, 0.75, 1.00), rim);
    gl_FragColor = vec4(colour, (0.25 + 0.6 * rim) * mix(0.08, 1.0, day));
}
)";

} // namespace

osg::ref_ptr<osg::Camera> makeSkyCamera(int renderBin)
{
    osg::ref_ptr<osg::Camera> camera = new osg::Camera;
    camera->setReferenceFrame(osg::Transform::RELATIVE_RF);
    camera->setRenderOrder(osg::Camera::NESTED_RENDER);
    camera->setClearMask(0);
    camera->setViewMatrix(osg::Matrixd::identity());
    camera->setProjectionMatrix(osg::Matrixd::identity());
    camera->setComputeNearFarMode(osg::CullSettings::COMPUTE_NEAR_FAR_USING_BOUNDING_VOLUMES);
    camera->setComputeBoundingSphereCallback(new NoBound);
    camera->setCullingActive(false);

    osg::StateSet* stateSet = camera->getOrCreateStateSet();
    stateSet->setRenderBinDetails(renderBin, "RenderBin");
    stateSet->setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    stateSet->setMode(GL_DEPTH_TEST, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    stateSet->setAttributeAndModes(new osg::Depth(osg::Depth::LESS, 0.0, 1.0, false),
                                   osg::StateAttribute::ON | osg::StateAttribute::PROTECTED);
    return camera;
}

osg::ref_ptr<osg::Geometry> makeEllipsoid(double equatorRadius, double polarRadius, unsigned slices, unsigned stacks)
{
    slices = std::max(slices, 3u);
    stacks = std::max(stacks, 2u);
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec3Array> normals = new osg::Vec3Array;
    for (unsigned stack = 0; stack <= stacks; ++stack)
    {
        const double lat = -kPi / 2.0 + kPi * stack / stacks;
        for (unsigned slice = 0; slice <= slices; ++slice)
        {
            const double lon = -kPi + 2.0 * kPi * slice / slices;
            const osg::Vec3d unit(std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat));
            vertices->push_back(osg::Vec3(unit.x() * equatorRadius, unit.y() * equatorRadius, unit.z() * polarRadius));
            // Surface normal of the ellipsoid: the gradient, which differs from the radial direction off the poles.
            osg::Vec3d normal(unit.x() / equatorRadius, unit.y() / equatorRadius, unit.z() / polarRadius);
            normal.normalize();
            normals->push_back(osg::Vec3(normal));
        }
    }
    osg::ref_ptr<osg::DrawElementsUInt> triangles = new osg::DrawElementsUInt(GL_TRIANGLES);
    const unsigned row = slices + 1;
    for (unsigned stack = 0; stack < stacks; ++stack)
    {
        for (unsigned slice = 0; slice < slices; ++slice)
        {
            const unsigned lowerLeft = stack * row + slice;
            const unsigned upperLeft = lowerLeft + row;
            // Counter-clockwise seen from outside, so that front faces point away from the centre.
            for (unsigned index : {lowerLeft, lowerLeft + 1, upperLeft + 1, lowerLeft, upperLeft + 1, upperLeft})
            {
                triangles->push_back(index);
            }
        }
    }
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry;
    geometry->setVertexArray(vertices.get());
    geometry->setNormalArray(normals.get(), osg::Array::BIND_PER_VERTEX);
    geometry->addPrimitiveSet(triangles.get());
    return geometry;
}

osg::ref_ptr<osg::Geometry> makeAtmosphere(double equatorRadius, double polarRadius, osg::Uniform* sunDirection)
{
    // About 160 km above the ground: thick enough to show a limb from space and a sky from the ground.
    constexpr double kThickness = 1.025;
    osg::ref_ptr<osg::Geometry> shell = makeEllipsoid(equatorRadius * kThickness, polarRadius * kThickness, 72, 36);
    shell->setName("veltra.sky.atmosphere");

    osg::StateSet* stateSet = shell->getOrCreateStateSet();
    osg::ref_ptr<osg::Program> program = new osg::Program;
    program->setName("veltra.sky.atmosphere");
    program->addShader(new osg::Shader(osg::Shader::VERTEX, kAtmosphereVertex));
    program->addShader(new osg::Shader(osg::Shader::FRAGMENT, kAtmosphereFragment));
    stateSet->setAttributeAndModes(program.get(), osg::StateAttribute::ON);
    if (sunDirection)
    {
        stateSet->addUniform(sunDirection);
    }
    // Only the inner side: from the ground that is the sky overhead, from space the far half forms the glowing limb.
    stateSet->setAttributeAndModes(new osg::CullFace(osg::CullFace::FRONT), osg::StateAttribute::ON);
    stateSet->setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA), osg::StateAttribute::ON);
    return shell;
}

osg::ref_ptr<osg::Geometry> makeSunDisc(double radius)
{
    osg::ref_ptr<osg::Geometry> disc = makeEllipsoid(radius, radius, 24, 12);
    disc->setName("veltra.sky.sun");
    osg::ref_ptr<osg::Vec4Array> colour = new osg::Vec4Array;
    colour->push_back(osg::Vec4(1.0f, 0.96f, 0.82f, 1.0f));
    disc->setColorArray(colour.get(), osg::Array::BIND_OVERALL);
    return disc;
}

osg::ref_ptr<osg::Geometry> makeStarField(unsigned count, double radius, std::uint32_t seed)
{
    StarRandom random(seed);
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array;
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array;
    vertices->reserve(count);
    colours->reserve(count);
    for (unsigned i = 0; i < count; ++i)
    {
        // Uniform over the sphere: z uniform in [-1, 1], the azimuth uniform around.
        const double z = 2.0 * random.next() - 1.0;
        const double azimuth = 2.0 * kPi * random.next();
        const double ring = std::sqrt(std::max(0.0, 1.0 - z * z));
        vertices->push_back(osg::Vec3(osg::Vec3d(ring * std::cos(azimuth), ring * std::sin(azimuth), z) * radius));
        // Few bright stars, many faint ones; a slight warm or cool tint.
        const float brightness = static_cast<float>(0.25 + 0.75 * std::pow(random.next(), 3.0));
        const float tint = static_cast<float>(0.9 + 0.2 * random.next());
        colours->push_back(osg::Vec4(brightness * tint, brightness, brightness / tint, 1.0f));
    }
    osg::ref_ptr<osg::Geometry> stars = new osg::Geometry;
    stars->setName("veltra.sky.stars");
    stars->setVertexArray(vertices.get());
    stars->setColorArray(colours.get(), osg::Array::BIND_PER_VERTEX);
    stars->addPrimitiveSet(new osg::DrawArrays(GL_POINTS, 0, static_cast<GLsizei>(vertices->size())));
    stars->getOrCreateStateSet()->setAttributeAndModes(new osg::Point(2.0f), osg::StateAttribute::ON);
    return stars;
}

} // namespace Util
} // namespace osgEarth
