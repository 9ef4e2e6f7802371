#include "picture/PictureLoader.h"

#include <stdexcept>

namespace vb {

namespace {

std::function<std::unique_ptr<PictureLoader>()>& LoaderMaker()
{
    static std::function<std::unique_ptr<PictureLoader>()> maker;
    return maker;
}

} // namespace

std::unique_ptr<PictureLoader> MakePictureLoader()
{
    if (!LoaderMaker())
        throw std::logic_error("no picture loader maker chosen");
    return LoaderMaker()();
}

void SetPictureLoaderMaker(std::function<std::unique_ptr<PictureLoader>()> maker)
{
    LoaderMaker() = std::move(maker);
}

} // namespace vb
