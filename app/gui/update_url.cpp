#include "app/gui/update_url.h"

std::string UpdateUrl() { return std::string(QUENDAL_UPDATE_HOST) + ":280/HTTP/Quendown/Quendal.zip"; }
