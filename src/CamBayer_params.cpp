// Parameter sets: the current-set file and the indexed set files of a model.
#include "CamBayer.h"

// Reading and writing the set files is not built yet.
int CamBayer::_current_params(std::string) {
    return -4;
}
int CamBayer::_save_params(int, std::string) {
    return -4;
}
int CamBayer::_load_params(int, std::string) {
    return -4;
}
