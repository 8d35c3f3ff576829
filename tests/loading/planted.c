/* A library planted in the folder a program is started from, under the name of one the program
   needs. Should the loader ever take it, it leaves a mark there and ends the process. */
#include <fcntl.h>
#include <unistd.h>

__attribute__((constructor)) static void planted(void)
{
    int fd = open("PLANTED-LIBRARY-LOADED", O_WRONLY | O_CREAT, 0600);
    if (fd >= 0)
        close(fd);
    _exit(86);
}
