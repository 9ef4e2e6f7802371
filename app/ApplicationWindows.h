#pragma once

#include "app/ModeWindows.h"

#include <QPointer>
#include <memory>

namespace vb {

class DirectoryLister;
class Catalogue;
class PictureIndex;
class RandomSource;
class SettingsStore;
class frmConfig;

// The program's real windows behind start-up's ModeWindows.
class ApplicationWindows final : public ModeWindows
{
public:
    // The configuration dialog saves to `store` and lists folders with `lister`; the slideshow
    // picks with `random`, the generator start-up seeds. The dialog's OK refreshes `index`, if any.
    ApplicationWindows(SettingsStore& store, const DirectoryLister& lister, RandomSource& random,
                       const PictureIndex* index = nullptr, Catalogue* catalogue = nullptr);
    ~ApplicationWindows() override;

    void ShowConfig() override;
    CoverSetHandle& Cover() override;

private:
    SettingsStore& m_store;
    const DirectoryLister& m_lister;
    RandomSource& m_random;
    const PictureIndex* m_index;
    Catalogue* m_catalogue;
    QPointer<frmConfig> m_config;
    std::unique_ptr<CoverSetHandle> m_cover;
};

} // namespace vb
