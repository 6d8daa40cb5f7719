#pragma once

#include <SolvoEarthUtil/SolvoEarthUtilExport.h>

#include <osg/Node>
#include <osg/ref_ptr>

#include <cstddef>

namespace SolvoEarthUtil {

/// Consecutive pieces of a model share vertex and index buffers up to this size and this many arrays or index lists:
/// the upload after a change to one part grows with the size, and taking a part out of a buffer
/// (as removing the model does for every part) with the count.
constexpr size_t kSharedBufferBytes = 4u << 20;
constexpr unsigned kSharedBufferEntries = 256;

/// Makes a freshly read model cheap to keep and quick to show, part by part unchanged in what
/// can be seen and controlled:
/// - parts that look the same share their drawables' state sets, arrays and index lists
///   (ShareDrawableData);
/// - the model is copied afresh, sharing what is shared, so that it lies compactly in memory
///   and what reading it left behind (duplicates, the reader's bookkeeping) goes back to the
///   system instead of staying resident between its parts. Nodes are copies with everything
///   of the originals: names, masks, callbacks, user data, their own state sets;
/// - plain geometries draw from vertex and index buffers shared by many parts instead of a
///   display list or buffers each: a first frame compiles a few hundred buffers far faster
///   than a hundred thousand display lists, and the driver holds less for them.
/// `model` is replaced by the prepared model, another node than before. The memory of the old
/// one goes back only when `model` held the last reference to it. Nothing for null.
///
/// Threads: the loading thread, on a model no other thread sees yet; the copy is made on a
/// thread of its own, which the call waits for.
SOLVOEARTHUTIL_EXPORT void prepareLoadedModel(osg::ref_ptr<osg::Node>& model);

} // namespace SolvoEarthUtil
