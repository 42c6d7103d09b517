#include "chapfile/kv_file_list.h"

int KvFileListe::Save(const CString& path) {
    if (!BeginSave(path, 1))
        return kNotWritten;
    ExchangeContents();
    ExchangeElement(nullptr);
    return EndSave() ? kSaved : kNotWritten;
}

int KvFileListe::Load(const CString& path) {
    bool versionDiffers = false;
    Result refused = CheckHeaderAndVersions(path, versionDiffers);
    if (refused == kLoaded && versionDiffers && MajorVersionDiffers() &&
        ConvertFromVersion(GetVersionRead()) != kExchanged) {
        refused = kFormatVersionRefused;
    }
    if (refused != kLoaded) {
        RemoveAllChapters();
        return refused;
    }

    int failures = 0;
    if (!(versionDiffers && MajorVersionDiffers())) {
        ExchangeContents();
        // The walk uses its own position: an element's exchange code may call
        // Chapter() and so move the file's lookups, but every chapter is still
        // offered once, in file order, unless something consumed it first.
        for (std::size_t i = 0; i < GetChapterCount(); ++i) {
            KvFileChapitre* chapter = GetChapter(i);
            SetCurrentChapter(chapter);
            if (chapter->IsUsed())
                continue;
            chapter->SetUsed(true);
            if (ExchangeElement(chapter) != kExchanged)
                ++failures;
        }
    }
    RemoveAllChapters();
    SetModified(false);
    if (versionDiffers && !MajorVersionDiffers()) {
        VersionChanged(GetVersionRead());
        SetModified(true);
    }
    return failures == 0 ? kLoaded : kElementRefused;
}
