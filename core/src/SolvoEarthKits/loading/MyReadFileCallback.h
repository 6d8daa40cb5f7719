#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Image>
#include <osg/ref_ptr>
#include <osgDB/Callbacks>

#include <map>
#include <mutex>
#include <string>

/// A read-file callback for the global registry that fetches images missing locally from the web
/// servers listed among the registry's data file paths, and keeps every image fetched that way for
/// the rest of its life. All other reads go to the registry's default implementation.
///
/// Threads: any thread may read through it at once (typically the database pager's threads); the
/// cache lock is held only while the cache is looked up or updated, never during a download, so
/// two threads may fetch the same image at once and the later one's image stays in the cache.
class SOLVOEARTHKITS_EXPORT MyReadFileCallback : public osgDB::ReadFileCallback
{
public:
    MyReadFileCallback() = default;
    /// The copy shares the images cached so far; the two caches grow apart afterwards.
    MyReadFileCallback(const MyReadFileCallback& other);
    /// Replaces this cache with a copy of the other's, sharing its images.
    MyReadFileCallback& operator=(const MyReadFileCallback& other);

    /// The registry's default archive opening.
    osgDB::ReaderWriter::ReadResult openArchive(const std::string& fileName, osgDB::ReaderWriter::ArchiveStatus status,
                                                unsigned int indexBlockSizeHint,
                                                const osgDB::Options* options) override;
    /// The registry's default object reading.
    osgDB::ReaderWriter::ReadResult readObject(const std::string& fileName, const osgDB::Options* options) override;
    /// Reads the image locally; when it is neither handled nor found there, tries the server data
    /// file paths in list order, answering a URL fetched before from the cache.
    osgDB::ReaderWriter::ReadResult readImage(const std::string& fileName, const osgDB::Options* options) override;
    /// The registry's default height field reading.
    osgDB::ReaderWriter::ReadResult readHeightField(const std::string& fileName,
                                                    const osgDB::Options* options) override;
    /// The registry's default node reading.
    osgDB::ReaderWriter::ReadResult readNode(const std::string& fileName, const osgDB::Options* options) override;
    /// The registry's default shader reading.
    osgDB::ReaderWriter::ReadResult readShader(const std::string& fileName, const osgDB::Options* options) override;

protected:
    ~MyReadFileCallback() override = default;

private:
    mutable std::mutex _cacheMutex;                              // guards _imageCache
    std::map<std::string, osg::ref_ptr<osg::Image>> _imageCache; // full URL -> image fetched from it
};
