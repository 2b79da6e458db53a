#include "specialfolder.h"

#include <QDir>
#include <QStandardPaths>

#include "global.h"

namespace {

std::string HomeFolder() { return QDir::cleanPath(QDir::homePath()).toStdString(); }

}  // namespace

std::string GetSpecialFolderPath(int Csidl) {
    QStandardPaths::StandardLocation location;
    switch (Csidl) {
    case CSIDL_MYPICTURES: location = QStandardPaths::PicturesLocation; break;
    case CSIDL_PERSONAL: location = QStandardPaths::DocumentsLocation; break;
    default: return "";
    }
    const QString path = QStandardPaths::writableLocation(location);
    if (path.isEmpty()) return "";
    const std::string clean = QDir::cleanPath(path).toStdString();
    return clean == HomeFolder() ? "" : clean;
}

std::string DefaultAlbumBase() {
    if (std::string pictures = GetSpecialFolderPath(CSIDL_MYPICTURES); !pictures.empty()) return pictures;
    // Always a folder right inside documents (or home), whatever the name was set to.
    const std::string albums = PathComponentOr(GlobalStrings.sgdalbumsname, TGlobalStrings().sgdalbumsname);
    if (std::string documents = GetSpecialFolderPath(CSIDL_PERSONAL); !documents.empty())
        return documents + "/" + albums;
    return HomeFolder() + "/" + albums;
}
