#include <SolvoEarthUtil/http/ReadWebJsonFile.h>

#include <SolvoEarthUtil/http/EasyCurl.h>

namespace SolvoEarthUtil {

void readwebjosnfile(std::string url, std::stringstream& out, osgDB::Options* options)
{
    osg::ref_ptr<EasyCurl> curl = new EasyCurl;
    curl->setConnectionTimeout(0);
    curl->setTimeout(0);
    EasyCurl::StreamObject sink(&out, nullptr, std::string());
    curl->read(std::string(), url, sink, options);
}

} // namespace SolvoEarthUtil
