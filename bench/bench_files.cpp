#include "bench/bench_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace bench {

namespace {

const char* const kLineShapes[] = {
    "    vec4 color%u = texture(sampler%u, uv * %u.0) + vec4(0.%u);\n",
    "    float weight%u = clamp(dot(normal, light%u.xyz), 0.0, 1.0) * %u.%u;\n",
    "uniform mat4 transform%u[%u]; // bone %u of %u\n",
    "    position%u.xyz += offsets[%u].xyz * float(%u) - vec3(%u.5);\n",
    "#define SAMPLE_COUNT_%u (%u + %u * %u)\n",
    "\n",
    "    if (index%u > %u) { accumulated += values[%u] * 0.%u; }\n",
    "  /* tap %u of %u: weights %u and %u */\n",
};

std::string includeLine(const std::string& name) {
    return "#include \"" + name + "\"\n";
}

}  // namespace

std::string shaderText(size_t bytes, uint32_t seed) {
    std::string text;
    text.reserve(bytes + 128);
    uint32_t state = seed * 2654435761u + 1;
    char line[160];
    while (text.size() < bytes) {
        state = state * 1664525u + 1013904223u;
        const char* shape = kLineShapes[(state >> 24) % (sizeof kLineShapes / sizeof *kLineShapes)];
        int written = std::snprintf(line, sizeof line, shape, state % 97, (state >> 8) % 16,
                                    (state >> 12) % 9 + 1, (state >> 16) % 100);
        text.append(line, static_cast<size_t>(written));
    }
    text.resize(bytes);
    if (!text.empty()) {
        text.back() = '\n';
    }
    return text;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

SourceTree writeLargeFile(const std::string& folder, size_t bytes) {
    SourceTree tree;
    tree.root = folder + "/large.vert";
    tree.files.push_back(tree.root);
    writeFile(tree.root, shaderText(bytes, 1));
    return tree;
}

SourceTree writeWideTree(const std::string& folder, uint32_t groups, uint32_t leavesPerGroup,
                         size_t leafBytes) {
    SourceTree tree;
    tree.root = folder + "/main.vert";
    tree.files.push_back(tree.root);
    std::string rootText = "#version 310 es\n";
    for (uint32_t group = 0; group < groups; ++group) {
        std::string groupName = "group" + std::to_string(group) + "/all.glsl";
        rootText += includeLine(groupName);
        std::string groupText = "// group " + std::to_string(group) + "\n";
        for (uint32_t leaf = 0; leaf < leavesPerGroup; ++leaf) {
            std::string leafName = "leaf" + std::to_string(leaf) + ".glsl";
            groupText += includeLine(leafName);
            groupText += "    float separator" + std::to_string(leaf) + " = 0.0;\n";
            std::string leafPath = folder + "/group" + std::to_string(group) + "/" + leafName;
            writeFile(leafPath, shaderText(leafBytes, group * leavesPerGroup + leaf));
            tree.files.push_back(leafPath);
        }
        std::string groupPath = folder + "/" + groupName;
        writeFile(groupPath, groupText);
        tree.files.insert(tree.files.begin() + 1, groupPath);
    }
    rootText += "void main() {}\n";
    writeFile(tree.root, rootText);
    return tree;
}

SourceTree writeChain(const std::string& folder, uint32_t depth, size_t bytesPerFile,
                      uint32_t repeats) {
    SourceTree tree;
    tree.root = folder + "/chain.vert";
    tree.files.push_back(tree.root);
    std::string rootText = "#version 310 es\n";
    for (uint32_t repeat = 0; repeat < repeats; ++repeat) {
        rootText += includeLine("level1.glsl");
    }
    writeFile(tree.root, rootText);
    for (uint32_t level = 1; level <= depth; ++level) {
        std::string half = shaderText(bytesPerFile / 2, level);
        std::string text = half;
        if (level < depth) {
            text += includeLine("level" + std::to_string(level + 1) + ".glsl");
        }
        text += half;
        std::string path = folder + "/level" + std::to_string(level) + ".glsl";
        writeFile(path, text);
        tree.files.push_back(path);
    }
    return tree;
}

bool writeStreamOutList(const std::string& path, uint32_t count) {
    std::string text;
    for (uint32_t index = 0; index < count; ++index) {
        text += "gl_Position" + std::to_string(index) + (index % 3 == 0 ? "_varying\n" : "\n");
    }
    return writeFile(path, text);
}

void removeTree(const std::string& folder) {
    std::error_code error;
    fs::remove_all(folder, error);
}

}  // namespace bench
