/* An application built against an installed library: initializes mode 0 of
 * the mode file it is given and takes one picture. Exits 0 when every quadrant
 * came back with the picture's pixels in it. */
#include <Vela2UsbCameraDll.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: consumer MODE_FILE\n");
        return 2;
    }
    int32_t status = LD_Initialize(0, 0, argv[1], 0);
    int32_t width = 0, height = 0;
    if (status != 0 || LD_GetQuadrantWidth(&width) != 0 || LD_GetQuadrantHeight(&height) != 0) {
        fprintf(stderr, "initialization failed: %d\n", (int)status);
        return 1;
    }
    size_t pixels = (size_t)width * (size_t)height;
    uint16_t* images[4];
    for (int q = 0; q < 4; ++q) images[q] = calloc(pixels ? pixels : 1, sizeof(uint16_t));
    status = LD_StartPicture(images[0], images[1], images[2], images[3], width, height, NULL, NULL,
                             NULL, NULL, 0, 0);
    int32_t wait = status == 0 ? LD_WaitForCapture(30000) : 0;
    int32_t result = LD_GetStatus();
    int lit = 0;
    for (size_t i = 0; i < pixels; ++i) lit |= images[0][i] != 0;
    printf("picture %dx%d: start %d, wait %d, status %d\n", (int)width, (int)height, (int)status,
           (int)wait, (int)result);
    Close();
    for (int q = 0; q < 4; ++q) free(images[q]);
    const int good = status == CAMERA_SUCCESS && wait == RECONSTRUCTION_COMPLETED &&
                     result == CAMERA_SUCCESS && lit;
    return good ? 0 : 1;
}
