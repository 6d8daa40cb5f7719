#include <osgEarth/Viewpoint>

#include <osgEarth/StringUtils>

#include <cmath>
#include <cstdlib>
#include <map>

namespace osgEarth {

namespace {

/// A number with an optional unit after it; the factor of a known unit is applied, anything else after the number
/// is ignored, as plain numbers in configurations allow. Missing or unreadable text gives 0.
double measure(const std::string& text, const std::map<std::string, double>& units)
{
    const std::string trimmed = trim(text);
    const char* begin = trimmed.c_str();
    char* end = nullptr;
    const double number = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(number))
        return 0.0;
    auto unit = units.find(toLower(trim(std::string(end))));
    return unit == units.end() ? number : number * unit->second;
}

double angle(const Config& conf, const std::string& key)
{
    static const std::map<std::string, double> units = {
        {"deg", 1.0}, {"degrees", 1.0}, {"rad", 180.0 / M_PI}, {"radians", 180.0 / M_PI}};
    return measure(conf.value(key), units);
}

double number(const Config& conf, const std::string& key)
{
    return measure(conf.value(key), {});
}

double distance(const Config& conf, const std::string& key)
{
    static const std::map<std::string, double> units = {
        {"m", 1.0}, {"km", 1000.0}, {"ft", 0.3048}, {"mi", 1609.344}, {"nm", 1852.0}};
    return measure(conf.value(key), units);
}

} // namespace

Viewpoint::Viewpoint() = default;

Viewpoint::Viewpoint(const osg::Vec3d& focalPoint, double heading, double pitch, double range,
                     const SpatialReference* srs)
    : Viewpoint(std::string(), focalPoint, heading, pitch, range, srs)
{}

Viewpoint::Viewpoint(double x, double y, double z, double heading, double pitch, double range,
                     const SpatialReference* srs)
    : Viewpoint(std::string(), osg::Vec3d(x, y, z), heading, pitch, range, srs)
{}

Viewpoint::Viewpoint(const std::string& name, double x, double y, double z, double heading, double pitch,
                     double range, const SpatialReference* srs)
    : Viewpoint(name, osg::Vec3d(x, y, z), heading, pitch, range, srs)
{}

Viewpoint::Viewpoint(const std::string& name, const osg::Vec3d& focalPoint, double heading, double pitch,
                     double range, const SpatialReference* srs)
    : _name(name), _focalPoint(focalPoint), _heading(heading), _pitch(pitch), _range(range), _srs(srs), _valid(true)
{}

Viewpoint::Viewpoint(const Config& conf)
{
    _name = trim(conf.value("name"));
    const bool cartesian = conf.hasValue("x");
    if (cartesian)
        _focalPoint.set(number(conf, "x"), number(conf, "y"), number(conf, "z"));
    else if (conf.hasChild("lat"))
        _focalPoint.set(number(conf, "long"), number(conf, "lat"), number(conf, "height"));
    _heading = angle(conf, "heading");
    _pitch = angle(conf, "pitch");
    _range = distance(conf, "range");

    if (conf.hasValue("srs"))
        _srs = SpatialReference::create(conf.value("srs"), conf.value("vdatum"));
    else if (!cartesian && conf.hasChild("lat"))
        _srs = SpatialReference::create("wgs84");
    _valid = _range > 0.0;
}

Config Viewpoint::getConfig() const
{
    Config conf("viewpoint");
    if (!_valid)
        return conf;
    if (!_name.empty())
        conf.add("name", _name);
    if (_srs.valid() && _srs->isGeographic())
    {
        conf.add("lat", _focalPoint.y());
        conf.add("long", _focalPoint.x());
        conf.add("height", _focalPoint.z());
    }
    else
    {
        conf.add("x", _focalPoint.x());
        conf.add("y", _focalPoint.y());
        conf.add("z", _focalPoint.z());
    }
    conf.add("heading", _heading);
    conf.add("pitch", _pitch);
    conf.add("range", _range);
    if (_srs.valid())
    {
        conf.add("srs", _srs->getHorizInitString());
        if (!_srs->getVertInitString().empty())
            conf.add("vdatum", _srs->getVertInitString());
    }
    return conf;
}

std::string Viewpoint::toString() const
{
    if (!_valid)
        return "<invalid viewpoint>";
    return Stringify() << (_name.empty() ? std::string() : _name + ": ") << "x=" << _focalPoint.x()
                       << ", y=" << _focalPoint.y() << ", z=" << _focalPoint.z() << ", heading=" << _heading
                       << ", pitch=" << _pitch << ", range=" << _range
                       << (_srs.valid() ? ", srs=" + _srs->getHorizInitString() : std::string());
}

} // namespace osgEarth
