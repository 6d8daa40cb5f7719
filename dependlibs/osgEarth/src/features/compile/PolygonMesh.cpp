#include "PolygonMesh.h"

#include <osg/Geometry>
#include <osg/TriangleIndexFunctor>
#include <osgUtil/Tessellator>

#include <algorithm>
#include <cmath>
#include <map>

namespace osgEarth::Features {

namespace {

// Bounds the work (and memory) a huge polygon or a tiny granularity can ask for.
constexpr double kMaxCells = 65536.0;
constexpr unsigned kMaxSteps = 100000;

struct Rect
{
    double x0, y0, x1, y1;
};

double signedArea(const Ring2d& ring)
{
    double area = 0.0;
    for (std::size_t i = 0, n = ring.size(); i < n; ++i)
    {
        const osg::Vec2d& a = ring[i];
        const osg::Vec2d& b = ring[(i + 1) % n];
        area += a.x() * b.y() - b.x() * a.y();
    }
    return 0.5 * area;
}

// Sutherland-Hodgman against one side of the rectangle; `inside` and `cut` describe that side.
template <typename Inside, typename Cut>
Ring2d clipSide(const Ring2d& ring, Inside inside, Cut cut)
{
    Ring2d out;
    for (std::size_t i = 0, n = ring.size(); i < n; ++i)
    {
        const osg::Vec2d& a = ring[(i + n - 1) % n];
        const osg::Vec2d& b = ring[i];
        const bool ina = inside(a), inb = inside(b);
        if (inb)
        {
            if (!ina)
                out.push_back(cut(a, b));
            out.push_back(b);
        }
        else if (ina)
        {
            out.push_back(cut(a, b));
        }
    }
    return out;
}

// Clipping each ring separately is enough because the rings are filled with the odd rule: a clipped hole still
// cancels exactly the part of the clipped outer ring it covers.
Ring2d clipRing(const Ring2d& ring, const Rect& r)
{
    const auto atX = [](double x) {
        return [x](const osg::Vec2d& a, const osg::Vec2d& b) {
            const double t = (x - a.x()) / (b.x() - a.x());
            return osg::Vec2d(x, a.y() + t * (b.y() - a.y()));
        };
    };
    const auto atY = [](double y) {
        return [y](const osg::Vec2d& a, const osg::Vec2d& b) {
            const double t = (y - a.y()) / (b.y() - a.y());
            return osg::Vec2d(a.x() + t * (b.x() - a.x()), y);
        };
    };
    Ring2d out = clipSide(
        ring, [&](const osg::Vec2d& p) { return p.x() >= r.x0; }, atX(r.x0));
    out = clipSide(
        out, [&](const osg::Vec2d& p) { return p.x() <= r.x1; }, atX(r.x1));
    out = clipSide(
        out, [&](const osg::Vec2d& p) { return p.y() >= r.y0; }, atY(r.y0));
    out = clipSide(
        out, [&](const osg::Vec2d& p) { return p.y() <= r.y1; }, atY(r.y1));
    return out;
}

struct TriangleCollector
{
    std::vector<unsigned>* indices = nullptr;
    void operator()(unsigned a, unsigned b, unsigned c) { indices->insert(indices->end(), {a, b, c}); }
};

// Triangulates rings already cut to one cell. Vertices go to the tessellator relative to the cell's corner so
// single precision loses nothing that matters.
void tessellateCell(const std::vector<Ring2d>& rings, const osg::Vec2d& origin, PolygonMesh& mesh)
{
    osg::ref_ptr<osg::Geometry> geometry = new osg::Geometry();
    osg::ref_ptr<osg::Vec3Array> vertices = new osg::Vec3Array();
    geometry->setVertexArray(vertices.get());
    for (const Ring2d& ring : rings)
    {
        const unsigned first = unsigned(vertices->size());
        for (const osg::Vec2d& p : ring)
            vertices->push_back(osg::Vec3(float(p.x() - origin.x()), float(p.y() - origin.y()), 0.0f));
        geometry->addPrimitiveSet(new osg::DrawArrays(GL_POLYGON, first, GLsizei(ring.size())));
    }

    osg::ref_ptr<osgUtil::Tessellator> tessellator = new osgUtil::Tessellator();
    tessellator->setTessellationType(osgUtil::Tessellator::TESS_TYPE_GEOMETRY);
    tessellator->setWindingType(osgUtil::Tessellator::TESS_WINDING_ODD);
    tessellator->setBoundaryOnly(false);
    tessellator->retessellatePolygons(*geometry);

    std::vector<unsigned> local;
    osg::TriangleIndexFunctor<TriangleCollector> collect;
    collect.indices = &local;
    geometry->accept(collect);

    const auto* result = dynamic_cast<const osg::Vec3Array*>(geometry->getVertexArray());
    if (!result)
        return;
    std::map<unsigned, unsigned> remap;
    const auto meshIndex = [&](unsigned i) {
        auto found = remap.find(i);
        if (found != remap.end())
            return found->second;
        const osg::Vec3& v = (*result)[i];
        mesh.points.push_back(osg::Vec2d(origin.x() + v.x(), origin.y() + v.y()));
        return remap[i] = unsigned(mesh.points.size() - 1);
    };
    for (std::size_t t = 0; t + 2 < local.size(); t += 3)
    {
        if (local[t] >= result->size() || local[t + 1] >= result->size() || local[t + 2] >= result->size())
            continue;
        const osg::Vec3 e1 = (*result)[local[t + 1]] - (*result)[local[t]];
        const osg::Vec3 e2 = (*result)[local[t + 2]] - (*result)[local[t]];
        if ((e1 ^ e2).length2() == 0.0f)
            continue;
        for (int k = 0; k < 3; ++k)
            mesh.triangles.push_back(meshIndex(local[t + k]));
    }
}

void addQuad(const Rect& r, PolygonMesh& mesh)
{
    const unsigned first = unsigned(mesh.points.size());
    mesh.points.insert(mesh.points.end(), {osg::Vec2d(r.x0, r.y0), osg::Vec2d(r.x1, r.y0), osg::Vec2d(r.x1, r.y1),
                                           osg::Vec2d(r.x0, r.y1)});
    mesh.triangles.insert(mesh.triangles.end(), {first, first + 1, first + 2, first, first + 2, first + 3});
}

bool finiteRing(const Ring2d& ring)
{
    return std::all_of(ring.begin(), ring.end(),
                       [](const osg::Vec2d& p) { return std::isfinite(p.x()) && std::isfinite(p.y()); });
}

} // namespace

PolygonMesh triangulatePolygon(const Ring2d& outer, const std::vector<Ring2d>& holes, double cellSize)
{
    PolygonMesh mesh;
    if (outer.size() < 3 || !finiteRing(outer) || signedArea(outer) == 0.0)
        return mesh;
    std::vector<Ring2d> validHoles;
    for (const Ring2d& hole : holes)
        if (hole.size() >= 3 && finiteRing(hole))
            validHoles.push_back(hole);

    double minX = outer[0].x(), maxX = minX, minY = outer[0].y(), maxY = minY;
    for (const osg::Vec2d& p : outer)
    {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }

    if (!(cellSize > 0.0) || !std::isfinite(cellSize))
    {
        std::vector<Ring2d> rings{outer};
        rings.insert(rings.end(), validHoles.begin(), validHoles.end());
        tessellateCell(rings, osg::Vec2d(minX, minY), mesh);
        return mesh;
    }

    // Cells on a grid anchored at multiples of the cell size, so neighbouring polygons meet on the same lines.
    const double cells = std::ceil((maxX - minX) / cellSize + 1.0) * std::ceil((maxY - minY) / cellSize + 1.0);
    if (cells > kMaxCells)
        cellSize *= std::sqrt(cells / kMaxCells);
    const double gx0 = std::floor(minX / cellSize) * cellSize;
    const double gy0 = std::floor(minY / cellSize) * cellSize;
    const int nx = std::max(1, int(std::ceil((maxX - gx0) / cellSize)));
    const int ny = std::max(1, int(std::ceil((maxY - gy0) / cellSize)));
    for (int j = 0; j < ny; ++j)
    {
        for (int i = 0; i < nx; ++i)
        {
            const Rect cell{gx0 + i * cellSize, gy0 + j * cellSize, gx0 + (i + 1) * cellSize, gy0 + (j + 1) * cellSize};
            std::vector<Ring2d> rings;
            Ring2d clippedOuter = clipRing(outer, cell);
            const double outerArea = std::abs(signedArea(clippedOuter));
            if (clippedOuter.size() < 3 || outerArea <= 0.0)
                continue;
            rings.push_back(std::move(clippedOuter));
            for (const Ring2d& hole : validHoles)
            {
                Ring2d clipped = clipRing(hole, cell);
                if (clipped.size() >= 3 && signedArea(clipped) != 0.0)
                    rings.push_back(std::move(clipped));
            }
            // Cells wholly inside the polygon are the common case for big areas and need no tessellator.
            const double cellArea = (cell.x1 - cell.x0) * (cell.y1 - cell.y0);
            if (rings.size() == 1 && std::abs(outerArea - cellArea) <= 1e-9 * cellArea)
                addQuad(cell, mesh);
            else
                tessellateCell(rings, osg::Vec2d(cell.x0, cell.y0), mesh);
        }
    }
    return mesh;
}

std::vector<osg::Vec3d> densify(const std::vector<osg::Vec3d>& line, double maxStep, bool closed)
{
    std::vector<osg::Vec3d> out;
    if (line.empty())
        return out;
    const std::size_t segments = closed ? line.size() : line.size() - 1;
    for (std::size_t i = 0; i < segments; ++i)
    {
        const osg::Vec3d& a = line[i];
        const osg::Vec3d& b = line[(i + 1) % line.size()];
        out.push_back(a);
        const double span = std::hypot(b.x() - a.x(), b.y() - a.y());
        if (maxStep > 0.0 && std::isfinite(span) && span > maxStep)
        {
            const unsigned steps = unsigned(std::min(std::ceil(span / maxStep), double(kMaxSteps)));
            for (unsigned s = 1; s < steps; ++s)
                out.push_back(a + (b - a) * (double(s) / steps));
        }
    }
    out.push_back(closed ? line.front() : line.back());
    return out;
}

} // namespace osgEarth::Features
