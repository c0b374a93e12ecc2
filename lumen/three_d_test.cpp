#include "lumen/three_d_test.h"

#include <QSize>
#include <QWidget>

#include <GL/gl.h>
#include <GL/glu.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <utility>

#include <pthread.h>
#include <sched.h>

#include "lumen/frame.h"
#include "lumen/generator.h"
#include "lumen/gl_surface.h"
#include "lumen/lumen_state.h"
#include "lumen/three_d_rules.h"
#include "lumen/timing.h"
#include "lumen/windows.h"
#include "platform/clock.h"
#include "platform/processors.h"
#include "platform/workers.h"

namespace lumen {

long numtriags[3];
long numquads[3];
double tps1[3];
double tps2[3];
double animation_ms[3];
std::atomic<int> wave_stop{0};
int wave_wait_ms = 20000;
std::function<void(int thread)> wave_thread_hook;

namespace {

const GLfloat cyan[4] = {0.0f, 1.0f, 1.0f, 1.0f};
const GLfloat blue[4] = {0.0f, 0.0f, 1.0f, 1.0f};
const GLfloat yellow[4] = {1.0f, 1.0f, 0.0f, 1.0f};
const GLfloat green[4] = {0.0f, 1.0f, 0.0f, 1.0f};
const GLfloat red[4] = {1.0f, 0.0f, 0.0f, 1.0f};
const GLfloat light_ambient[4] = {0.1f, 0.1f, 0.1f, 1.0f};
const GLfloat light_diffuse[4] = {0.7f, 0.7f, 0.7f, 1.0f};
const GLfloat light_specular[4] = {0.0f, 0.0f, 0.0f, 1.0f};

// Scene state.
double gldAspect = 1.0;
int glnWidth = 0, glnHeight = 0;
int bool1[2] = {0, 1};
std::mutex g_wave_mutex;  // globlight and oldrect, written by both wave threads
float globlight = 0.0f;
const float radius = 3.0f * 0.5f + 3.0f;
int nAngle = 0;
int knumber = kFirstKnumber;

// A context that could not be had (its box has been shown).
constexpr int kNoContext = -2;

void Material(const GLfloat* colour) { glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, colour); }

void SetLight0() {
    glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, light_diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, light_specular);
}

// ---- waves -----------------------------------------------------------------------------------------

void initialize(GlDrawable* d) {
    float g = 0.0f;
    const QSize client = d->size();
    {
        std::lock_guard<std::mutex> lock(g_wave_mutex);
        globlight += 0.1f;
        g = globlight;
        oldrect = Rect{0, 0, client.width(), client.height()};
    }
    const GLfloat ambient[4] = {g + 0.02f, g + 0.05f, g + 0.1f, g + 0.04f};
    const GLfloat diffuse[4] = {g + 0.08f, g + 0.05f, g + 0.02f, g + 0.1f};
    const GLfloat specular[4] = {g + 0.1f, g + 0.01f, g + 0.05f, g + 0.04f};
    const GLfloat position[4] = {1.0f, 1.0f, 1.0f, 0.0f};
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    // The whole client area, as a context's first binding to the window gives it.
    glViewport(0, 0, client.width(), client.height());
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearDepth(70.0);  // clamped to 1.0
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_NORMALIZE);
    glMatrixMode(GL_PROJECTION);
    const int h = client.height() > 0 ? client.height() : 1;
    gluPerspective(45.0, double(client.width()) / double(h), 3.0, 70.0);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glDepthFunc(GL_LESS);
}

void DrawWave(int flag, float x0, float a, float b) {
    const float d = 0.11f;
    for (float x = x0 - 2.0f; x <= x0 + 2.01f; x += d) {
        if (wave_stop.load(std::memory_order_relaxed) != 0) return;
        auto cell = [&](float z) {
            const float p0[3] = {x, solve(a, b, z, x), z};
            const float p1[3] = {x, solve(a, b, z - d, x), z - d};
            const float p2[3] = {x + d, solve(a, b, z - d, x + d), z - d};
            const float p3[3] = {x + d, solve(a, b, z, x + d), z};
            float nx = 0.0f, ny = 0.0f, nz = 0.0f;
            CalculateVectorNormal(p0, p1, p2, &nx, &ny, &nz);
            glBegin(GL_POLYGON);
            glVertex3fv(p0);
            glVertex3fv(p1);
            glVertex3fv(p2);
            glVertex3fv(p3);
            glNormal3f(nx, ny, nz);
            glEnd();
        };
        if (flag != 1) {
            for (float z = -12.0f; z < 3.5f; z += d) cell(z);
        } else {
            for (float z = 3.5f; z >= -12.0f; z -= d) cell(z);
        }
    }
}

// What the two wave threads and the sequencer share for one frame.
struct WaveFrame {
    GlDrawable* drawable = nullptr;
    kp::WorkerTeam* team = nullptr;
    std::mutex mutex;
    std::condition_variable cv;
    // On X both wave contexts draw into the one window, whose pixels the software rasteriser
    // keeps per window and puts on the screen from the drawing thread: the threads take turns.
    std::mutex window_turn;
    bool released2 = false;
    bool ended[2] = {false, false};
    int ended_count = 0;
    bool failed = false;
    QImage frames[2];
};

// The software rasteriser starts drawing threads of its own with every context, and they take
// the processors of the thread that makes the context. A wave thread is bound to one processor:
// it makes its context while it may run on every processor of the program's set, so that the
// context's threads are not all crowded onto that one processor (where, with others' work bound
// to it as well, they can be left a sliver of it), and the binding is put back at once.
std::unique_ptr<GlContext> CreateWaveContext(GlDrawable* d) {
    const pthread_t self = pthread_self();
    cpu_set_t bound;
    CPU_ZERO(&bound);
    const bool kept = pthread_getaffinity_np(self, sizeof bound, &bound) == 0;
    if (kept) {
        cpu_set_t all;
        CPU_ZERO(&all);
        for (int cpu : kp::AllowedCpus()) CPU_SET(cpu, &all);
        pthread_setaffinity_np(self, sizeof all, &all);
    }
    std::unique_ptr<GlContext> context = GlContext::Create(d, "saddle");
    if (kept) pthread_setaffinity_np(self, sizeof bound, &bound);
    return context;
}

void WaveThread(WaveFrame* w, int k) {
    std::unique_ptr<GlContext> context = CreateWaveContext(w->drawable);
    if (wave_thread_hook) wave_thread_hook(k);
    if (context) {
        initialize(w->drawable);
        if (k == 0) {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            {
                std::lock_guard<std::mutex> lock(w->mutex);
                w->released2 = true;
            }
            w->team->Release(1);
        } else if (!UseNativeGlWindows()) {
            // Thread 1 clears the one window both draw into; a pbuffer of thread 2's own starts
            // as that cleared window.
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        }
        std::unique_lock<std::mutex> turn(w->window_turn, std::defer_lock);
        if (UseNativeGlWindows()) turn.lock();
        glPushMatrix();
        glTranslatef(0.0f, 0.0f, -radius);
        gluLookAt(0.5, 1.0, 2.0, 0.0, 0.2, 0.0, 0.0, 1.0, 0.0);
        if (k == 0) {
            DrawWave(bool1[1], -2.5f, 0.7f, 0.6f);
        } else {
            DrawWave(bool1[0], 2.5f, 0.3f, 0.2f);
        }
        glPopMatrix();
        glFinish();
        if (UseNativeGlWindows()) {
            CallGlFrameHook("saddle", *context);
        } else {
            w->frames[k] = context->ReadFrame();
        }
    }
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        if (!context) w->failed = true;
        w->ended[k] = true;
        ++w->ended_count;
        last = w->ended_count == (w->released2 ? 2 : 1);
    }
    // Both halves appear together on a double-buffered window: the thread that ends last swaps.
    if (context && last && context->DoubleBuffered()) context->SwapBuffers("saddle");
    context.reset();
    w->cv.notify_all();
}

// Thread 2's picture over thread 1's where it drew (both cleared to black).
QImage ComposeWaves(const QImage& first, const QImage& second) {
    QImage out = first.isNull() ? second : first;
    if (first.isNull() || second.isNull() || second.size() != first.size()) return out;
    for (int y = 0; y < out.height(); ++y) {
        auto* o = reinterpret_cast<QRgb*>(out.scanLine(y));
        const auto* s = reinterpret_cast<const QRgb*>(second.constScanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if ((s[x] & 0x00FFFFFFu) != 0) o[x] = s[x];
        }
    }
    return out;
}

// How a frame of the wave scene ended.
enum class WaveEnd { Drawn, NoContext, Overdue };

WaveEnd draw_scene(GlDrawable* d) {
    WaveFrame w;
    w.drawable = d;
    kp::WorkerTeam team(2);
    w.team = &team;
    wave_stop = 0;
    // Both threads exist before either runs.
    if (!team.Create(0, [&w] { WaveThread(&w, 0); }, tpriority) ||
        !team.Create(1, [&w] { WaveThread(&w, 1); }, tpriority)) {
        team.Cancel();
        return WaveEnd::NoContext;
    }
    SetThreadToProcessor(team.worker(0), 1);
    SetThreadToProcessor(team.worker(1), ProcessorCount() > 1 ? 2 : 1);
    kp::Sleep(100);
    team.Release(0);
    bool overdue = false;
    {
        std::unique_lock<std::mutex> lock(w.mutex);
        auto over = [&w] { return w.ended[0] && (!w.released2 || w.ended[1]); };
        if (!w.cv.wait_for(lock, std::chrono::milliseconds(wave_wait_ms), over)) {
            // Not ended in time: the threads stop at their next row, and the frame is not a
            // measurement.
            wave_stop = 1;
            overdue = true;
        }
    }
    team.Join();
    if (!UseNativeGlWindows() && !w.failed) {
        const QImage frame = ComposeWaves(w.frames[0], w.frames[1]);
        GlContext::ShowFrame(d->window(), frame);
        CallGlFrameHook("saddle", frame);
    }
    if (w.failed) return WaveEnd::NoContext;
    return overdue ? WaveEnd::Overdue : WaveEnd::Drawn;
}


// ---- the city --------------------------------------------------------------------------------------

void DrawBox(float z1, float z2, float y1, float y2, float x1, float x2) {
    glBegin(GL_POLYGON);
    glNormal3f(0.0f, 0.0f, 1.0f);
    glVertex3f(x2, y2, z1);
    glVertex3f(x1, y2, z1);
    glVertex3f(x1, y1, z1);
    glVertex3f(x2, y1, z1);
    glEnd();
    glBegin(GL_POLYGON);
    glNormal3f(0.0f, 0.0f, -1.0f);
    glVertex3f(x2, y2, z2);
    glVertex3f(x2, y1, z2);
    glVertex3f(x1, y1, z2);
    glVertex3f(x1, y2, z2);
    glEnd();
    glBegin(GL_POLYGON);
    glNormal3f(-1.0f, 0.0f, 0.0f);
    glVertex3f(x2, y2, z2);
    glVertex3f(x2, y2, z1);
    glVertex3f(x2, y1, z1);
    glVertex3f(x2, y1, z2);
    glEnd();
    glBegin(GL_POLYGON);
    glNormal3f(1.0f, 0.0f, 0.0f);
    glVertex3f(x1, y2, z1);
    glVertex3f(x1, y2, z2);
    glVertex3f(x1, y1, z2);
    glVertex3f(x1, y1, z1);
    glEnd();
    glBegin(GL_POLYGON);
    glNormal3f(0.0f, 1.0f, 0.0f);
    glVertex3f(x2, y1, z1);
    glVertex3f(x1, y1, z1);
    glVertex3f(x1, y1, z2);
    glVertex3f(x2, y1, z2);
    glEnd();
    glBegin(GL_POLYGON);
    glNormal3f(0.0f, -1.0f, 0.0f);
    glVertex3f(x2, y2, z2);
    glVertex3f(x1, y2, z2);
    glVertex3f(x1, y2, z1);
    glVertex3f(x2, y2, z1);
    glEnd();
}

void DrawScene(GlContext& context, int index) {
    Generator& g = ThreadGenerator();
    g.seed = uint32_t(std::time(nullptr));
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SetLight0();
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, cyan);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const float ty = float(-220 + g.Next() % 60);
    const float tz = float(-1220 + g.Next() % 100);
    glTranslatef(0.0f, ty, tz);
    glRotatef(float(12 + g.Next() % 22), 1.0f, 0.0f, 0.0f);
    glRotatef(float(60 + g.Next() % 40), 0.0f, 1.0f, 0.0f);
    g.seed = 1024;
    static const GLfloat* const kByIndex[6] = {cyan, red, green, yellow, blue, red};
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, kByIndex[index]);
    for (int x = -400; x <= 400; x += 80) {
        for (int z = -400; z <= 400; z += 80) {
            const float s = g.Next() % 10 == 0 ? 0.5f : float(g.Next() % 10);
            glPushMatrix();
            glTranslatef(float(x), 0.0f, float(z));
            for (int f = 20; f <= 60; f += 10) {
                glPushMatrix();
                glScalef(1.0f, s, 1.0f);
                const float z2 = float(-20 + g.Next() % 10);
                const float y1 = float(18 + g.Next() % 30);
                const float x1 = float(10 + g.Next() % 20);
                const float x2 = float(-16 + g.Next() % 10);
                DrawBox(float(f), z2, y1, 0.0f, x1, x2);
                glPopMatrix();
            }
            glPopMatrix();
        }
    }
    glFlush();
    context.SwapBuffers("gl_city");
}

bool CreateScene(GlDrawable* d) {
    std::unique_ptr<GlContext> context = GlContext::Create(d, "gl_city");
    if (!context) return false;
    glnWidth = d->size().width();
    glnHeight = d->size().height();
    gldAspect = glnHeight < 1 ? double(glnWidth) : double(glnWidth) / double(glnHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, gldAspect, 1.0, 8000.0);
    glViewport(0, 0, glnWidth, glnHeight);
    // The sequencer runs at the highest level from here on (a raise the system refuses is skipped).
    kp::SetCurrentThreadPriority(2);
    for (int index = 0; index < 6; ++index) {
        context->DoneCurrent();
        context->MakeCurrent();
        DrawScene(*context, index);
    }
    // The last frame is drawn before the clock stops.
    glFinish();
    return true;
}

// ---- rotating solids -------------------------------------------------------------------------------

void InitializeRC() {
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    SetLight0();
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
}

void Triangle(const GLfloat* colour, float ax, float ay, float az, float bx, float by, float bz, float cx, float cy,
              float cz) {
    Material(colour);
    glBegin(GL_POLYGON);
    glVertex3f(ax, ay, az);
    glVertex3f(bx, by, bz);
    glVertex3f(cx, cy, cz);
    glEnd();
}

void DrawTriangle(int angle) {
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -8.0f);
    glRotatef(float(angle), 0.0f, 0.0f, 2.0f);
    glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, cyan);
    Triangle(cyan, 1, -1, 0, 1, 1, 0, 0, 0, 2);
    Triangle(yellow, -1, 0.5f, 0, 1, -1, 0, 0, 0, 2);
    Triangle(green, -1, 0.5f, 0, 1, 1, 0, 0, 0, 2);
    Triangle(red, 1, -1, 0, 1, 1, 0, -1, 0.5f, 0);
}

void DrawPyramid(int angle) {
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -8.0f);
    glRotatef(float(angle), 0.0f, 1.0f, 1.0f);
    Triangle(cyan, 1, -1, 0, 1, 1, 0, 0, 0, 2);
    Triangle(yellow, -1, -1, 0, 1, -1, 0, 0, 0, 2);
    Triangle(green, -1, 1, 0, -1, -1, 0, 0, 0, 2);
    Triangle(red, 1, 1, 0, -1, 1, 0, 0, 0, 2);
    Material(blue);
    glBegin(GL_POLYGON);
    glVertex3f(1, 1, 0);
    glVertex3f(-1, 1, 0);
    glVertex3f(-1, -1, 0);
    glVertex3f(1, -1, 0);
    glEnd();
}

// A vertex of the fan solids in the colour of its place: red at the poles (0, +-1, 0), green at
// (-1, 0, 0), yellow at (1, 0, 0), blue at the apex.
void FanVertex(float x, float y, float z) {
    if (y != 0.0f) {
        Material(red);
    } else if (x < 0.0f) {
        Material(green);
    } else if (x > 0.0f) {
        Material(yellow);
    } else {
        Material(blue);
    }
    glVertex3f(x, y, z);
}

// The four fans of the solid with its apex at (0, 0, top).
void FanSolid(float top) {
    glBegin(GL_TRIANGLE_FAN);
    FanVertex(0, 1, 0);
    FanVertex(-1, 0, 0);
    FanVertex(0, 0, top);
    FanVertex(1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLE_FAN);
    FanVertex(1, 0, 0);
    FanVertex(0, 1, 0);
    FanVertex(0, 0, top);
    FanVertex(-1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLE_FAN);
    FanVertex(1, 0, 0);
    FanVertex(0, 0, top);
    FanVertex(0, -1, 0);
    FanVertex(-1, 0, 0);
    glEnd();
    glBegin(GL_TRIANGLE_FAN);
    FanVertex(0, -1, 0);
    FanVertex(0, 0, top);
    FanVertex(-1, 0, 0);
    FanVertex(1, 0, 0);
    glEnd();
}

void drawPyramid(int angle) {
    glLoadIdentity();
    glTranslatef(1.0f, 0.0f, -8.0f);
    glRotatef(float(angle), 0.0f, 1.0f, 1.0f);
    FanSolid(1.0f);
}

void DrawSceneTriags(GlContext& context, int angle) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    DrawTriangle(angle);
    DrawPyramid(angle);
    drawPyramid(angle);
    context.SwapBuffers("InitTriags");
}

bool DoInitTriags(GlDrawable* d) {
    nAngle = 0;
    std::unique_ptr<GlContext> context = GlContext::Create(d, "InitTriags");
    if (!context) return false;
    InitializeRC();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, double(crect.Width()) / double(crect.Height()), 1.0, 10.0);
    glViewport(0, 0, crect.Width(), crect.Height());
    for (int angle : DoRotateAngles()) {
        nAngle = angle;
        DrawSceneTriags(*context, nAngle);
    }
    glFinish();
    return true;
}

// ---- pyramid fields --------------------------------------------------------------------------------

// One square-based pyramid (four triangles and a quadrilateral), where the caller placed it; the
// offset is 0 in every scene.
void CreateDisplayList(int offset) {
    (void)offset;
    const float e = 0.75f;
    glBegin(GL_TRIANGLES);
    Material(cyan);
    glVertex3f(e, -e, 0);
    glVertex3f(e, e, 0);
    glVertex3f(0, 0, 2);
    Material(yellow);
    glVertex3f(-e, -e, 0);
    glVertex3f(e, -e, 0);
    glVertex3f(0, 0, 2);
    Material(green);
    glVertex3f(-e, e, 0);
    glVertex3f(-e, -e, 0);
    glVertex3f(0, 0, 2);
    Material(red);
    glVertex3f(e, e, 0);
    glVertex3f(-e, e, 0);
    glVertex3f(0, 0, 2);
    glEnd();
    Material(blue);
    glBegin(GL_QUADS);
    glVertex3f(e, e, 0);
    glVertex3f(-e, e, 0);
    glVertex3f(-e, -e, 0);
    glVertex3f(e, -e, 0);
    glEnd();
}

// The fan solid of the fields: apex (0, 0, 2), no transform of its own.
void drawPyramid() { FanSolid(2.0f); }

void DrawTPSScene(GlContext& context, int angle, int mode, int run) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -32.0f);
    glRotatef(15.0f, 1.0f, 1.0f, 0.0f);
    SeedThreadGenerator();
    Generator& g = ThreadGenerator();
    const PlaceGrid p = PlacesOf(mode, knumber);
    if (mode == 3) glRotatef(float(angle), 0.0f, 1.0f, 0.0f);
    for (int x = p.x0; x <= p.x1; x += 3) {
        for (int y = p.y0; y <= p.y1; y += 3) {
            for (int z = p.z0; z <= p.z1; z += 3) {
                glPushMatrix();
                glTranslatef(float(x), float(y), float(z));
                if (mode == 1) {
                    glScalef(1.0f, -1.0f, 180.0f);
                    CreateDisplayList(0);
                } else if (mode == 2) {
                    glScalef(1.0f, 1.0f, DepthScale(g));
                    CreateDisplayList(0);
                } else {
                    const float sz = FieldScale(g);
                    const float sy = FieldScale(g);
                    const float sx = FieldScale(g);
                    glScalef(sx, sy, sz);
                    if (mode == 3) {
                        CreateDisplayList(0);
                        drawPyramid();
                    } else if (mode == 4) {
                        drawPyramid();
                        ++numtriags[run];
                    } else {
                        CreateDisplayList(0);
                        ++numquads[run];
                    }
                }
                glPopMatrix();
            }
        }
    }
    if (mode == 1) knumber += kKnumberStep;
    glFlush();
    context.SwapBuffers("TPS");
}

void DoRotate2(GlContext& context, int mode, int run) {
    nAngle = 0;
    for (;;) {
        nAngle += kAngleStep;
        if (mode == 1) gluPerspective(30.0, gldAspect, 1.0, 15.0);
        const bool last = DoRotate2Ends(mode, nAngle);
        DrawTPSScene(context, nAngle, mode, run);
        if (last) {
            if (mode == 1) {
                glMatrixMode(GL_PROJECTION);
                glLoadIdentity();
                gluPerspective(30.0, gldAspect, 1.0, 50.0);
            }
            return;
        }
    }
}

bool DoInitTPS(GlDrawable* d, int run) {
    nAngle = 0;
    d->window()->InvalidateAndUpdate();
    std::unique_ptr<GlContext> context = GlContext::Create(d, "TPS");
    if (!context) return false;
    InitializeRC();
    gldAspect = double(crect.Width()) / double(crect.Height());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport(0, 0, crect.Width(), crect.Height());
    knumber = kFirstKnumber;
    for (int mode = 1; mode <= 3; ++mode) DoRotate2(*context, mode, run);
    glFinish();
    context.reset();
    hwndParent->InvalidateAndUpdate();
    return true;
}

}  // namespace

int DoInitTPS2(GlDrawable* d, int run) {
    nAngle = 0;
    std::unique_ptr<GlContext> context = GlContext::Create(d, "TPS");
    if (!context) return kNoContext;
    InitializeRC();
    gldAspect = double(crect.Width()) / double(crect.Height());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, gldAspect, 1.0, 100.0);
    glViewport(0, 0, crect.Width(), crect.Height());
    for (int mode = 4; mode <= 5; ++mode) {
        nAngle = 0;
        Stopwatch watch("Lumen Timer Exception");
        if (!watch.Start()) return -1;
        DoRotate2(*context, mode, run);
        // Every frame is drawn before the clock stops.
        glFinish();
        const double ms = watch.Stop();
        if (ms < 0.0) return -1;
        (mode == 4 ? tps1 : tps2)[run] = ms;
    }
    context.reset();
    hwndParent->InvalidateAndUpdate();
    return 0;
}

// ---- the test ----------------------------------------------------------------------------------------

double Three_D_Draw() {
    resize(hwndParent);
    const int colour_bits = ColourBitsOf(bits_per_pixel);
    GlDrawable part_a(hwndParent, PixelFormat{colour_bits, zbuffer, false});
    for (int r = 0; r < 3; ++r) {
        numtriags[r] = numquads[r] = 0;
        tps1[r] = tps2[r] = animation_ms[r] = 0.0;
    }
    bool1[0] = 0;
    bool1[1] = 1;
    globlight = 0.0f;
    bool no_context = false;
    bool no_window = false;
    bool overdue = false;

    const TimedRuns chosen = RunTimed(count, [&](int r) -> double {
        Stopwatch watch;
        if (!watch.Start()) return -1.0;
        for (int i = 0; i < 4; ++i) {
            const WaveEnd end = draw_scene(&part_a);
            if (end != WaveEnd::Drawn) {
                (end == WaveEnd::Overdue ? overdue : no_context) = true;
                return -1.0;
            }
            std::swap(bool1[0], bool1[1]);
        }
        if (!CreateScene(&part_a) || DoInitTPS2(&part_a, r) == kNoContext) {
            no_context = true;
            return -1.0;
        }
        const double ms = watch.Stop();
        if (ms < 0.0) return -1.0;

        Window* gl2 = CreateWindowOf(WindowClass::Gl2,
                                     count != 0 ? "3-D Animation" : "KESTREL 3-D Animation Test - 93% finished",
                                     crect, nullptr);
        if (gl2 == nullptr) {
            no_window = true;
            return -1.0;
        }
        gl2->Show();
        gl2->Update();
        gdi::RunOnGuiThread([gl2] {
            if (gl2->widget() != nullptr) gl2->widget()->activateWindow();
        });
        bool drawn = true;
        {
            GlDrawable part_b(gl2, PixelFormat{colour_bits, zbuffer, true});
            Stopwatch animation;
            if (animation.Start()) {
                drawn = DoInitTriags(&part_b) && DoInitTPS(&part_b, r);
                animation_ms[r] = animation.Stop();
            } else {
                animation_ms[r] = -1.0;
            }
        }
        DestroyWindow(gl2);
        if (!drawn) {
            no_context = true;
            return -1.0;
        }
        if (count != 0) globlight = 0.0f;
        return ms;
    });
    AtTestEnd();

    const std::string renderer = GlRenderer();
    if (!renderer.empty()) {
        std::fprintf(stderr, "lumen: GL renderer %s\n", renderer.c_str());
        output_string(hwndParent, "GL renderer: " + renderer);
    }
    if (no_window) return 0.0;
    if (overdue) {
        std::fprintf(stderr, "lumen: the wave threads did not end within %d ms: the 3-D test is not scored\n",
                     wave_wait_ms);
    }
    if (no_context || overdue || chosen.ms < 0.0) return -1.0;
    const int r = chosen.run;
    times.elapsed10_animation = animation_ms[r];
    const long triangles = ObjectsPerSecond(numtriags[r], tps1[r]);
    const long quads = ObjectsPerSecond(numquads[r], tps2[r]);
    times.triangles_per_sec = int32_t(triangles);
    times.quads_per_sec = int32_t(MeanRate(triangles, quads));
    return chosen.ms;
}

}  // namespace lumen
