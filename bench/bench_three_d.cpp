// The 3-D test's fan-solid scene (595 solids of four triangle fans per frame, 16 frames, as the
// test times it) beside a plain immediate-mode loop drawing the same fans with the same
// transforms on the same kind of context, over several rounds. Runs on the platform Qt picks
// (offscreen: EGL pbuffers whose frames the test reads back into its window; X: Qt contexts).
#include <QApplication>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <utility>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/spread.h"
#include "lumen/generator.h"
#include "lumen/gl_surface.h"
#include "lumen/lumen_state.h"
#include "lumen/three_d_rules.h"
#include "lumen/three_d_test.h"
#include "lumen/windows.h"

namespace {

using lumen::Generator;

void Vertex(const GLfloat* colour, float x, float y, float z) {
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, colour);
    glVertex3f(x, y, z);
}

// The fan solid with its apex at (0, 0, 2): four fans, a material per vertex.
void Fans() {
    static const GLfloat r[4] = {1, 0, 0, 1}, g[4] = {0, 1, 0, 1}, b[4] = {0, 0, 1, 1}, y[4] = {1, 1, 0, 1};
    glBegin(GL_TRIANGLE_FAN);
    Vertex(r, 0, 1, 0); Vertex(g, -1, 0, 0); Vertex(b, 0, 0, 2); Vertex(y, 1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLE_FAN);
    Vertex(y, 1, 0, 0); Vertex(r, 0, 1, 0); Vertex(b, 0, 0, 2); Vertex(g, -1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLE_FAN);
    Vertex(y, 1, 0, 0); Vertex(b, 0, 0, 2); Vertex(r, 0, -1, 0); Vertex(g, -1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLE_FAN);
    Vertex(r, 0, -1, 0); Vertex(b, 0, 0, 2); Vertex(g, -1, 0, 0); Vertex(y, 1, 0, 0);
    glEnd();
}

// The plain loop (and, when asked, each frame read back and put in the window, as the scene's
// frames are shown off X): one context made before the clock, the scales drawn before it, 16 frames of
// 595 solids, glFinish before the clock stops. Objects per second.
long PlainLoop(lumen::GlDrawable* d, uint32_t seed, bool read_back) {
    std::unique_ptr<lumen::GlContext> context = lumen::GlContext::Create(d, "bench");
    if (!context) return 0;
    const QSize size = d->size();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, double(size.width()) / double(size.height()), 1.0, 100.0);
    glViewport(0, 0, size.width(), size.height());
    const lumen::PlaceGrid p = lumen::PlacesOf(4, 0);
    const int frames = int(lumen::DoRotate2Angles(4).size());
    std::vector<float> scales;
    for (int f = 0; f < frames; ++f) {
        Generator g{seed + uint32_t(f)};
        for (int i = 0; i < 3 * p.Count(); ++i) scales.push_back(lumen::FieldScale(g));
    }
    long objects = 0;
    const auto t0 = std::chrono::steady_clock::now();
    size_t s = 0;
    for (int f = 0; f < frames; ++f) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glTranslatef(0.0f, 0.0f, -32.0f);
        glRotatef(15.0f, 1.0f, 1.0f, 0.0f);
        for (int x = p.x0; x <= p.x1; x += 3) {
            for (int y = p.y0; y <= p.y1; y += 3) {
                for (int z = p.z0; z <= p.z1; z += 3) {
                    glPushMatrix();
                    glTranslatef(float(x), float(y), float(z));
                    const float sz = scales[s++], sy = scales[s++], sx = scales[s++];
                    glScalef(sx, sy, sz);
                    Fans();
                    glPopMatrix();
                    ++objects;
                }
            }
        }
        glFlush();
        if (read_back) lumen::GlContext::ShowFrame(d->window(), context->ReadFrame());
    }
    glFinish();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    return lumen::ObjectsPerSecond(objects, ms);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rounds = 7;
    std::printf("3-D fan-solid scene (16 frames x 595 solids, as timed by the test) beside a plain loop of the same "
                "fans on the same context type, objects per second, %d rounds\n", rounds);
    lumen::laptop_mode_on = 1;
    lumen::ApplyLaptopMode();
    lumen::Window* main = lumen::CreateMainWindow();
    lumen::use_high_precision = 1;
    lumen::GlDrawable drawable(main, lumen::PixelFormat{lumen::ColourBitsOf(lumen::bits_per_pixel), 32, false});
    std::vector<double> scene, plain, shown;
    for (int r = 0; r < rounds; ++r) {
        QCoreApplication::processEvents();
        lumen::numtriags[0] = 0;
        if (lumen::DoInitTPS2(&drawable, 0) != 0) {
            std::printf("the scene failed\n");
            return 1;
        }
        scene.push_back(double(lumen::ObjectsPerSecond(lumen::numtriags[0], lumen::tps1[0])));
        plain.push_back(double(PlainLoop(&drawable, uint32_t(r), false)));
        shown.push_back(double(PlainLoop(&drawable, uint32_t(r), true)));
    }
    std::printf("platform %s, renderer %s, client %dx%d\n", qPrintable(QGuiApplication::platformName()),
                lumen::GlRenderer().c_str(), drawable.size().width(), drawable.size().height());
    for (auto& [name, v] : {std::pair<const char*, std::vector<double>&>{"scene (DoInitTPS2 mode 4)", scene},
                            {"plain loop", plain}, {"plain loop, frames shown", shown}}) {
        const Spread s = Of(v);
        std::printf("%-28s min %10.0f  median %10.0f  max %10.0f\n", name, s.min, s.median, s.max);
    }
    return 0;
}
