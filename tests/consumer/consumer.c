/* A user's program built against the installed SDK: reads one frame from the
 * first camera and prints its name, the read's status and the frame's size. */
#include <ezcam.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
    InitDevice(NULL, NULL, "");
    while (PollDevice(100) > 0) {
    }
    if (DeviceCount() < 1) {
        fprintf(stderr, "consumer: no camera\n");
        return 1;
    }
    const char* name = DeviceName(0);
    ResumeDevice(name);
    const int size = RecvMemSize(name);
    unsigned char* frame = malloc(size > 0 ? (size_t)size : 1);
    int status = EZ_EIO;
    for (int attempt = 0; frame && attempt < 20 && status != EZ_OK; ++attempt)
        status = GetRawData(frame, size, name);
    if (status == EZ_OK) {
        const _ezImage* record = (const _ezImage*)frame;
        printf("%s %s %dx%d\n", name, StatusName(status), record->width, record->height);
    } else {
        printf("%s %s\n", name, StatusName(status));
    }
    free(frame);
    SuspendDevice(name);
    ExitDevice();
    return status == EZ_OK ? 0 : 1;
}
