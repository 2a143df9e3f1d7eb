#include "toolchain/gl_runner/test_commands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace gl_runner {

namespace {

constexpr GLenum kQuads = 0x0007;  // compatibility-profile primitives
constexpr GLenum kQuadStrip = 0x0008;
constexpr GLenum kPolygon = 0x0009;
constexpr GLenum kVertexProgramTwoSide = 0x8643;
constexpr GLenum kTextureCoordArray = 0x8078;
constexpr GLenum kProjection = 0x1701;
constexpr GLenum kModelView = 0x1700;

struct NamedEnum {
    std::string_view name;
    GLenum value;
};

constexpr NamedEnum kModes[] = {
    {"GL_POINTS", GL_POINTS},
    {"GL_LINES", GL_LINES},
    {"GL_LINE_STRIP", GL_LINE_STRIP},
    {"GL_LINE_LOOP", GL_LINE_LOOP},
    {"GL_TRIANGLES", GL_TRIANGLES},
    {"GL_TRIANGLE_STRIP", GL_TRIANGLE_STRIP},
    {"GL_TRIANGLE_FAN", GL_TRIANGLE_FAN},
    {"GL_LINES_ADJACENCY", GL_LINES_ADJACENCY},
    {"GL_LINE_STRIP_ADJACENCY", GL_LINE_STRIP_ADJACENCY},
    {"GL_TRIANGLES_ADJACENCY", GL_TRIANGLES_ADJACENCY},
    {"GL_TRIANGLE_STRIP_ADJACENCY", GL_TRIANGLE_STRIP_ADJACENCY},
    {"GL_QUADS", kQuads},
    {"GL_QUAD_STRIP", kQuadStrip},
    {"GL_POLYGON", kPolygon},
};

constexpr NamedEnum kCapabilities[] = {
    {"GL_CLIP_DISTANCE0", GL_CLIP_DISTANCE0},
    {"GL_CLIP_DISTANCE1", GL_CLIP_DISTANCE1},
    {"GL_CLIP_DISTANCE2", GL_CLIP_DISTANCE2},
    {"GL_CLIP_DISTANCE3", GL_CLIP_DISTANCE3},
    {"GL_CLIP_DISTANCE4", GL_CLIP_DISTANCE4},
    {"GL_CLIP_DISTANCE5", GL_CLIP_DISTANCE5},
    {"GL_CLIP_DISTANCE6", GL_CLIP_DISTANCE6},
    {"GL_CLIP_DISTANCE7", GL_CLIP_DISTANCE7},
    {"GL_CLIP_PLANE0", GL_CLIP_DISTANCE0},
    {"GL_CLIP_PLANE1", GL_CLIP_DISTANCE1},
    {"GL_CLIP_PLANE2", GL_CLIP_DISTANCE2},
    {"GL_CLIP_PLANE3", GL_CLIP_DISTANCE3},
    {"GL_CLIP_PLANE4", GL_CLIP_DISTANCE4},
    {"GL_CLIP_PLANE5", GL_CLIP_DISTANCE5},
    {"GL_CLIP_PLANE6", GL_CLIP_DISTANCE6},
    {"GL_CLIP_PLANE7", GL_CLIP_DISTANCE7},
    {"GL_DEPTH_TEST", GL_DEPTH_TEST},
    {"GL_DEPTH_CLAMP", GL_DEPTH_CLAMP},
    {"GL_CULL_FACE", GL_CULL_FACE},
    {"GL_PROGRAM_POINT_SIZE", GL_PROGRAM_POINT_SIZE},
    {"GL_VERTEX_PROGRAM_POINT_SIZE", GL_PROGRAM_POINT_SIZE},
    {"GL_VERTEX_PROGRAM_TWO_SIDE", kVertexProgramTwoSide},
};

bool enumNamed(const NamedEnum* table, size_t size, const std::string& name, GLenum& value) {
    for (size_t index = 0; index < size; ++index) {
        if (table[index].name == name) {
            value = table[index].value;
            return true;
        }
    }
    return false;
}

// Exactly `count` numbers from words[first] on.
bool numbersAt(const std::vector<std::string>& words, size_t first, size_t count,
               std::vector<double>& numbers) {
    if (words.size() != first + count) {
        return false;
    }
    for (size_t index = first; index < words.size(); ++index) {
        char* end = nullptr;
        numbers.push_back(std::strtod(words[index].c_str(), &end));
        if (end == words[index].c_str() || *end != '\0') {
            return false;
        }
    }
    return true;
}

bool startsWith(const std::vector<std::string>& words,
                std::initializer_list<std::string_view> head) {
    if (words.size() < head.size()) {
        return false;
    }
    size_t index = 0;
    for (std::string_view word : head) {
        if (words[index++] != word) {
            return false;
        }
    }
    return true;
}

// probe [all|rect] rgb|rgba ..., relative probe [rect] rgb|rgba ...
bool readProbe(const std::vector<std::string>& words, Command& command) {
    size_t at = 1;
    if (words[0] == "relative") {
        command.relative = true;
        if (words.size() < 2 || words[1] != "probe") {
            return false;
        }
        at = 2;
    }
    if (at < words.size() && words[at] == "all" && !command.relative) {
        command.whole = true;
        ++at;
    } else if (at < words.size() && words[at] == "rect") {
        command.area = true;
        ++at;
    }
    if (at >= words.size() || (words[at] != "rgba" && words[at] != "rgb")) {
        return false;
    }
    command.channels = words[at] == "rgba" ? 4 : 3;
    size_t place = command.whole ? 0 : command.area ? 4 : 2;
    size_t count = place + static_cast<size_t>(command.channels);
    // Tests give rgb probes an alpha now and then; it is not compared.
    if (command.channels == 3 && words.size() == at + 1 + count + 1) {
        ++count;
    }
    return numbersAt(words, at + 1, count, command.numbers);
}

// draw rect [ortho] [tex] x y w h [tx ty tw th]
bool readDrawRect(const std::vector<std::string>& words, Command& command) {
    size_t at = 2;
    for (; at < words.size(); ++at) {
        if (words[at] == "ortho") {
            command.ortho = true;
        } else if (words[at] == "tex") {
            command.textured = true;
        } else {
            break;
        }
    }
    return numbersAt(words, at, command.textured ? 8 : 4, command.numbers);
}

// draw arrays [instanced] MODE first count [instances]
bool readDrawArrays(const std::vector<std::string>& words, Command& command) {
    size_t at = 2;
    if (at < words.size() && words[at] == "instanced") {
        command.instanced = true;
        ++at;
    }
    if (at >= words.size() || !enumNamed(kModes, std::size(kModes), words[at], command.mode)) {
        return false;
    }
    return numbersAt(words, at + 1, command.instanced ? 3 : 2, command.numbers);
}

// uniform TYPE NAME values: one element or several of an array.
bool readUniform(const std::vector<std::string>& words, Command& command) {
    if (words.size() < 4) {
        return false;
    }
    command.type = glslTypeNamed(words[1]);
    if (command.type == nullptr) {
        return false;
    }
    command.name = words[2];
    size_t perElement = static_cast<size_t>(command.type->columns * command.type->rows);
    if ((words.size() - 3) % perElement != 0) {
        return false;
    }
    for (size_t index = 3; index < words.size(); ++index) {
        if (!appendComponent(words[index], command.type->base, command.values)) {
            return false;
        }
    }
    return true;
}

bool readCommand(const TestLine& line, Command& command) {
    std::vector<std::string> words = commandWords(line.text);
    command.line = line;
    if (words.empty()) {
        return false;
    }
    if (startsWith(words, {"clear", "color"})) {
        command.kind = CommandKind::clearColor;
        return numbersAt(words, 2, 4, command.numbers);
    }
    if (words.size() == 1 && words[0] == "clear") {
        command.kind = CommandKind::clear;
        return true;
    }
    if (startsWith(words, {"draw", "rect"})) {
        command.kind = CommandKind::drawRect;
        return readDrawRect(words, command);
    }
    if (startsWith(words, {"draw", "arrays"})) {
        command.kind = CommandKind::drawArrays;
        return readDrawArrays(words, command);
    }
    if (words[0] == "uniform") {
        command.kind = CommandKind::uniform;
        return readUniform(words, command);
    }
    if (words[0] == "probe" || words[0] == "relative") {
        command.kind = CommandKind::probe;
        return readProbe(words, command);
    }
    if (words[0] == "tolerance") {
        command.kind = CommandKind::tolerance;
        return numbersAt(words, 1, words.size() == 2 ? 1 : 4, command.numbers);
    }
    if (startsWith(words, {"texture", "rgbw"})) {
        command.kind = CommandKind::textureRgbw;
        return numbersAt(words, 2, 3, command.numbers) && command.numbers[1] >= 1 &&
               command.numbers[2] >= 1;
    }
    if (words[0] == "ortho") {
        command.kind = CommandKind::ortho;
        return words.size() == 1 || numbersAt(words, 1, 4, command.numbers);
    }
    if ((words[0] == "enable" || words[0] == "disable") && words.size() == 2) {
        command.kind = words[0] == "enable" ? CommandKind::enable : CommandKind::disable;
        return enumNamed(kCapabilities, std::size(kCapabilities), words[1], command.mode);
    }
    return false;
}

// ---- running ---------------------------------------------------------------

struct RunState {
    const GlContext& context;
    const GlProgram& program;
    std::vector<GLuint> textures;
    GLuint rectArray = 0;
    GLuint rectBuffer = 0;
    GLuint dataArray = 0;
    double tolerance[4] = {0.01, 0.01, 0.01, 0.01};
};

void setUniform(const GlFunctions& gl, GLint location, const GlslType& type,
                const std::vector<uint8_t>& values) {
    const auto* floats = reinterpret_cast<const GLfloat*>(values.data());
    const auto* doubles = reinterpret_cast<const GLdouble*>(values.data());
    const auto* ints = reinterpret_cast<const GLint*>(values.data());
    const auto* uints = reinterpret_cast<const GLuint*>(values.data());
    size_t components = values.size() / componentSize(type.base);
    auto count = static_cast<GLsizei>(components / static_cast<size_t>(type.columns * type.rows));
    if (type.columns == 1) {
        using FloatSetter = PFNGLUNIFORM1FVPROC;
        const FloatSetter floatSetters[] = {gl.glUniform1fv, gl.glUniform2fv, gl.glUniform3fv,
                                            gl.glUniform4fv};
        const PFNGLUNIFORM1DVPROC doubleSetters[] = {gl.glUniform1dv, gl.glUniform2dv,
                                                     gl.glUniform3dv, gl.glUniform4dv};
        const PFNGLUNIFORM1IVPROC intSetters[] = {gl.glUniform1iv, gl.glUniform2iv, gl.glUniform3iv,
                                                  gl.glUniform4iv};
        const PFNGLUNIFORM1UIVPROC uintSetters[] = {gl.glUniform1uiv, gl.glUniform2uiv,
                                                    gl.glUniform3uiv, gl.glUniform4uiv};
        size_t slot = static_cast<size_t>(type.rows - 1);
        switch (type.base) {
            case BaseType::floatType:
                floatSetters[slot](location, count, floats);
                break;
            case BaseType::doubleType:
                doubleSetters[slot](location, count, doubles);
                break;
            case BaseType::intType:
                intSetters[slot](location, count, ints);
                break;
            case BaseType::uintType:
                uintSetters[slot](location, count, uints);
                break;
        }
        return;
    }
    // [columns - 2][rows - 2]
    const PFNGLUNIFORMMATRIX2FVPROC floatMatrices[3][3] = {
        {gl.glUniformMatrix2fv, gl.glUniformMatrix2x3fv, gl.glUniformMatrix2x4fv},
        {gl.glUniformMatrix3x2fv, gl.glUniformMatrix3fv, gl.glUniformMatrix3x4fv},
        {gl.glUniformMatrix4x2fv, gl.glUniformMatrix4x3fv, gl.glUniformMatrix4fv}};
    const PFNGLUNIFORMMATRIX2DVPROC doubleMatrices[3][3] = {
        {gl.glUniformMatrix2dv, gl.glUniformMatrix2x3dv, gl.glUniformMatrix2x4dv},
        {gl.glUniformMatrix3x2dv, gl.glUniformMatrix3dv, gl.glUniformMatrix3x4dv},
        {gl.glUniformMatrix4x2dv, gl.glUniformMatrix4x3dv, gl.glUniformMatrix4dv}};
    auto column = static_cast<size_t>(type.columns - 2);
    auto row = static_cast<size_t>(type.rows - 2);
    if (type.base == BaseType::doubleType) {
        doubleMatrices[column][row](location, count, GL_FALSE, doubles);
    } else {
        floatMatrices[column][row](location, count, GL_FALSE, floats);
    }
}

// A rectangle as the suite draws it: a strip of four corners at z 0, w 1,
// with texture coordinates, at the program's position and texture
// coordinate attributes (generic attribute 0 also feeds gl_Vertex).
void drawRect(RunState& state, const Command& command) {
    const GlFunctions& gl = state.context.gl();
    std::vector<double> n = command.numbers;
    if (command.ortho) {
        n[0] = 2.0 * n[0] / state.context.width() - 1.0;
        n[1] = 2.0 * n[1] / state.context.height() - 1.0;
        n[2] = 2.0 * n[2] / state.context.width();
        n[3] = 2.0 * n[3] / state.context.height();
    }
    double tx = 0.0, ty = 0.0, tw = 1.0, th = 1.0;
    if (command.textured) {
        tx = n[4], ty = n[5], tw = n[6], th = n[7];
    }
    auto f = [](double value) { return static_cast<GLfloat>(value); };
    const GLfloat vertices[4][6] = {
        {f(n[0]), f(n[1]), 0.0f, 1.0f, f(tx), f(ty)},
        {f(n[0] + n[2]), f(n[1]), 0.0f, 1.0f, f(tx + tw), f(ty)},
        {f(n[0]), f(n[1] + n[3]), 0.0f, 1.0f, f(tx), f(ty + th)},
        {f(n[0] + n[2]), f(n[1] + n[3]), 0.0f, 1.0f, f(tx + tw), f(ty + th)},
    };
    if (state.rectArray == 0) {
        gl.glGenVertexArrays(1, &state.rectArray);
        gl.glGenBuffers(1, &state.rectBuffer);
    }
    gl.glBindVertexArray(state.rectArray);
    gl.glBindBuffer(GL_ARRAY_BUFFER, state.rectBuffer);
    gl.glBufferData(GL_ARRAY_BUFFER, sizeof vertices, vertices, GL_STREAM_DRAW);
    GLint position = attributeLocation(state.context, state.program, "piglit_vertex");
    GLint texture = attributeLocation(state.context, state.program, "piglit_texcoord");
    if (!state.program.compiled || position < 0) {
        position = 0;
    }
    if (!state.program.compiled) {
        texture = 1;
    }
    constexpr GLsizei kStride = sizeof vertices[0];
    gl.glVertexAttribPointer(static_cast<GLuint>(position), 4, GL_FLOAT, GL_FALSE, kStride,
                             nullptr);
    gl.glEnableVertexAttribArray(static_cast<GLuint>(position));
    const void* texOffset = reinterpret_cast<const void*>(4 * sizeof(GLfloat));
    if (texture >= 0 && texture != position) {
        gl.glVertexAttribPointer(static_cast<GLuint>(texture), 2, GL_FLOAT, GL_FALSE, kStride,
                                 texOffset);
        gl.glEnableVertexAttribArray(static_cast<GLuint>(texture));
    }
    if (state.context.profile() == Profile::compatibility) {
        gl.glTexCoordPointer(2, GL_FLOAT, kStride, texOffset);
        gl.glEnableClientState(kTextureCoordArray);
    }
    gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl.glBindVertexArray(state.dataArray);
}

// The suite's four-colour texture on a unit: red at the bottom left, green
// at the bottom right, blue at the top left, white at the top right; one
// level, sampled nearest.
void makeRgbwTexture(RunState& state, const Command& command) {
    const GlFunctions& gl = state.context.gl();
    const auto unit = static_cast<GLenum>(command.numbers[0]);
    const auto width = static_cast<int>(command.numbers[1]);
    const auto height = static_cast<int>(command.numbers[2]);
    std::vector<uint8_t> texels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool right = x >= width / 2;
            bool top = y >= height / 2;
            uint8_t* texel = &texels[(static_cast<size_t>(y) * width + x) * 4];
            texel[0] = right == top ? 255 : 0;
            texel[1] = right ? 255 : 0;
            texel[2] = top ? 255 : 0;
            texel[3] = 255;
        }
    }
    GLuint texture = 0;
    gl.glGenTextures(1, &texture);
    state.textures.push_back(texture);
    gl.glActiveTexture(GL_TEXTURE0 + unit);
    gl.glBindTexture(GL_TEXTURE_2D, texture);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                    texels.data());
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.glActiveTexture(GL_TEXTURE0);
}

std::string formatColour(const double* colour, int channels) {
    std::string text = "(";
    for (int index = 0; index < channels; ++index) {
        char number[32];
        std::snprintf(number, sizeof number, "%s%.3f", index == 0 ? "" : ", ", colour[index]);
        text += number;
    }
    return text + ")";
}

// Compares every pixel of the area with the expected colour; the first one
// off by more than the tolerance is the failure.
std::string probe(const RunState& state, const Command& command) {
    const GlFunctions& gl = state.context.gl();
    const int width = state.context.width();
    const int height = state.context.height();
    const std::vector<double>& n = command.numbers;
    int x = 0, y = 0, w = width, h = height;
    size_t colourAt = 0;
    if (!command.whole) {
        double sx = command.relative ? width : 1.0;
        double sy = command.relative ? height : 1.0;
        x = static_cast<int>(n[0] * sx);
        y = static_cast<int>(n[1] * sy);
        w = command.area ? static_cast<int>(n[2] * sx) : 1;
        h = command.area ? static_cast<int>(n[3] * sy) : 1;
        colourAt = command.area ? 4 : 2;
        // A relative place of 1.0 is the last pixel, not one past it.
        if (command.relative && !command.area) {
            x = x >= width ? width - 1 : x;
            y = y >= height ? height - 1 : y;
        }
    }
    if (w <= 0 || h <= 0) {
        return {};
    }
    std::vector<GLfloat> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.glReadPixels(x, y, w, h, GL_RGBA, GL_FLOAT, pixels.data());
    const double* expected = n.data() + colourAt;
    for (int row = 0; row < h; ++row) {
        for (int column = 0; column < w; ++column) {
            const GLfloat* pixel = &pixels[(static_cast<size_t>(row) * w + column) * 4];
            double observed[4] = {pixel[0], pixel[1], pixel[2], pixel[3]};
            for (int channel = 0; channel < command.channels; ++channel) {
                if (std::fabs(observed[channel] - expected[channel]) > state.tolerance[channel]) {
                    return "line " + std::to_string(command.line.number) + ": pixel (" +
                           std::to_string(x + column) + ", " + std::to_string(y + row) +
                           "): expected " + formatColour(expected, command.channels) +
                           ", observed " + formatColour(observed, command.channels);
                }
            }
        }
    }
    return {};
}

// Runs one command; the failure, or empty.
std::string runCommand(RunState& state, const Command& command) {
    const GlFunctions& gl = state.context.gl();
    const std::vector<double>& n = command.numbers;
    switch (command.kind) {
        case CommandKind::clearColor:
            gl.glClearColor(static_cast<GLfloat>(n[0]), static_cast<GLfloat>(n[1]),
                            static_cast<GLfloat>(n[2]), static_cast<GLfloat>(n[3]));
            break;
        case CommandKind::clear:
            gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
            break;
        case CommandKind::drawRect:
            drawRect(state, command);
            break;
        case CommandKind::drawArrays:
            if (command.instanced) {
                gl.glDrawArraysInstanced(command.mode, static_cast<GLint>(n[0]),
                                         static_cast<GLsizei>(n[1]), static_cast<GLsizei>(n[2]));
            } else {
                gl.glDrawArrays(command.mode, static_cast<GLint>(n[0]), static_cast<GLsizei>(n[1]));
            }
            break;
        case CommandKind::uniform: {
            GLint location = uniformLocation(state.context, state.program, command.name);
            if (location >= 0) {
                setUniform(gl, location, *command.type, command.values);
            }
            break;
        }
        case CommandKind::probe:
            return probe(state, command);
        case CommandKind::tolerance:
            for (int channel = 0; channel < 4; ++channel) {
                state.tolerance[channel] = n[n.size() == 1 ? 0 : static_cast<size_t>(channel)];
            }
            break;
        case CommandKind::enable:
            gl.glEnable(command.mode);
            break;
        case CommandKind::disable:
            gl.glDisable(command.mode);
            break;
        case CommandKind::textureRgbw:
            makeRgbwTexture(state, command);
            break;
        case CommandKind::ortho: {
            // The compatibility profile's built-in matrices: an orthographic
            // projection of the window or of the given box.
            bool box = n.size() == 4;
            gl.glMatrixMode(kProjection);
            gl.glLoadIdentity();
            gl.glOrtho(box ? n[0] : 0.0, box ? n[1] : state.context.width(), box ? n[2] : 0.0,
                       box ? n[3] : state.context.height(), -1.0, 1.0);
            gl.glMatrixMode(kModelView);
            gl.glLoadIdentity();
            break;
        }
    }
    GLenum error = gl.glGetError();
    if (error != GL_NO_ERROR) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", error);
        return "line " + std::to_string(command.line.number) + ": GL error " + code + " after '" +
               command.line.text + "'";
    }
    return {};
}

}  // namespace

bool readCommands(const std::vector<TestLine>& lines, std::vector<Command>& commands,
                  std::string& unsupported) {
    for (const TestLine& line : lines) {
        Command command;
        if (!readCommand(line, command)) {
            unsupported = "command '" + line.text + "'";
            return false;
        }
        commands.push_back(std::move(command));
    }
    return true;
}

std::string runCommands(const GlContext& context, const GlProgram& program, const VertexData& data,
                        const std::vector<Command>& commands) {
    const GlFunctions& gl = context.gl();
    RunState state{context, program, {}};
    GLuint dataBuffer = 0;
    gl.glGenVertexArrays(1, &state.dataArray);
    gl.glBindVertexArray(state.dataArray);
    gl.glUseProgram(program.program);
    if (!data.columns.empty()) {
        bindVertexData(context, program, data, dataBuffer);
    }
    std::string failure;
    GLenum error = gl.glGetError();
    if (error != GL_NO_ERROR) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", error);
        failure = std::string("GL error ") + code + " while setting up the program and vertex data";
    }
    for (size_t index = 0; index < commands.size() && failure.empty(); ++index) {
        failure = runCommand(state, commands[index]);
    }
    gl.glBindVertexArray(0);
    gl.glDeleteVertexArrays(1, &state.dataArray);
    if (!state.textures.empty()) {
        gl.glDeleteTextures(static_cast<GLsizei>(state.textures.size()), state.textures.data());
    }
    if (state.rectArray != 0) {
        gl.glDeleteVertexArrays(1, &state.rectArray);
        gl.glDeleteBuffers(1, &state.rectBuffer);
    }
    if (dataBuffer != 0) {
        gl.glDeleteBuffers(1, &dataBuffer);
    }
    return failure;
}

}  // namespace gl_runner
