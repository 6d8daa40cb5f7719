#include "LineRibbon.h"

#include <cmath>
#include <cstddef>

namespace osgEarth::Features {

namespace {

// The unit vector across the segment a -> b, to the right of travel, flat on the ground whose normal is `up`.
// Zero when the segment runs straight up or down.
osg::Vec3d across(const osg::Vec3d& a, const osg::Vec3d& b, const osg::Vec3d& up)
{
    osg::Vec3d side = (b - a) ^ up;
    side -= up * (side * up);
    const double length = side.length();
    return length > 0.0 ? side / length : osg::Vec3d();
}

} // namespace

LineRibbon buildRibbon(const std::vector<osg::Vec3d>& line, const std::vector<osg::Vec3d>& up, double width)
{
    LineRibbon ribbon;
    if (line.size() != up.size() || !std::isfinite(width) || width <= 0.0)
        return ribbon;

    // Repeated points have no direction to widen across.
    std::vector<osg::Vec3d> points;
    std::vector<osg::Vec3d> normals;
    for (std::size_t i = 0; i < line.size(); ++i)
    {
        if (!points.empty() && (line[i] - points.back()).length2() <= 1e-12)
            continue;
        osg::Vec3d normal = up[i];
        if (normal.normalize() <= 0.0)
            normal = osg::Vec3d(0.0, 0.0, 1.0);
        points.push_back(line[i]);
        normals.push_back(normal);
    }
    // A ring's closing point is the same vertex as its first; the join there wraps round.
    const bool closed = points.size() > 3 && (points.front() - points.back()).length2() <= 1e-6;
    if (closed)
    {
        points.pop_back();
        normals.pop_back();
    }
    const std::size_t n = points.size();
    if (n < 2)
        return ribbon;
    const std::size_t segments = closed ? n : n - 1;

    const double half = 0.5 * width;
    ribbon.vertices.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i)
    {
        const bool hasPrevious = closed || i > 0;
        const bool hasNext = closed || i + 1 < n;
        const osg::Vec3d& p = points[i];
        const osg::Vec3d previous = hasPrevious ? across(points[(i + n - 1) % n], p, normals[i]) : osg::Vec3d();
        const osg::Vec3d next = hasNext ? across(p, points[(i + 1) % n], normals[i]) : osg::Vec3d();

        osg::Vec3d mitre = previous + next;
        double reach = half;
        if (mitre.normalize() <= 1e-9)
        {
            // An end, or a turn straight back: square across whichever segment there is.
            mitre = hasNext ? next : previous;
        }
        else if (hasPrevious && hasNext)
        {
            // Each edge stays half a width from its segment, so the corner lies 1 / cos(half the turn) further out.
            const double cosine = mitre * next;
            reach = cosine > 1.0 / kMitreLimit ? half / cosine : half * kMitreLimit;
        }
        ribbon.vertices.push_back(p - mitre * reach);
        ribbon.vertices.push_back(p + mitre * reach);
    }

    ribbon.triangles.reserve(6 * segments);
    for (std::size_t s = 0; s < segments; ++s)
    {
        const unsigned a = unsigned(2 * s);
        const unsigned b = unsigned(2 * ((s + 1) % n));
        ribbon.triangles.insert(ribbon.triangles.end(), {a, a + 1, b + 1, a, b + 1, b});
    }
    return ribbon;
}

} // namespace osgEarth::Features
