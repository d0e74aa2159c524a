#include "files/run_folder.h"

#include "files/user_folders.h"
#include "process/cleanup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

std::string run_folder_template() {
    const std::string folder = temporary_folder();
    return (folder == "/" ? "" : folder) + "/castora-run-XXXXXX";
}

Expected<std::string> make_run_folder() {
    std::string folder = run_folder_template();
    if (mkdtemp(folder.data()) == nullptr) {
        return Failure{"Could not make a folder for the live overlay texts in " +
                       temporary_folder() + ": " + std::string{std::strerror(errno)} + "\n"};
    }
    remove_at_end(folder, Removal::always);
    return folder;
}
