#include "toolchain/gl_runner/shader_test.h"

namespace gl_runner {

namespace {

enum class Section { none, require, vertex, passthrough, pixel, geometry, vertexData, test, other };

struct SectionName {
    std::string_view name;
    Section section;
};

constexpr SectionName kSections[] = {
    {"[require]", Section::require},
    {"[vertex shader]", Section::vertex},
    {"[vertex shader passthrough]", Section::passthrough},
    {"[fragment shader]", Section::pixel},
    {"[geometry shader]", Section::geometry},
    {"[vertex data]", Section::vertexData},
    {"[test]", Section::test},
};

Section sectionOf(std::string_view header) {
    for (const SectionName& known : kSections) {
        if (header == known.name) {
            return known.section;
        }
    }
    return Section::other;
}

bool isShaderSection(Section section) {
    return section == Section::vertex || section == Section::pixel || section == Section::geometry;
}

// A section header starts its line with '[' and closes it with ']'.
bool isHeader(std::string_view line) {
    std::string_view text = trimmed(line);
    return text.size() >= 2 && text.front() == '[' && text.back() == ']';
}

}  // namespace

std::string_view trimmed(std::string_view text) {
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> commandWords(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ',' || c == '(' || c == ')' || c == '\r') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

ShaderTest parseShaderTest(std::string_view text) {
    ShaderTest test;
    Section section = Section::none;
    std::string* shader = nullptr;
    int number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (isHeader(line)) {
            std::string_view header = trimmed(line);
            section = sectionOf(header);
            shader = section == Section::vertex     ? &test.vertexShader
                     : section == Section::pixel    ? &test.pixelShader
                     : section == Section::geometry ? &test.geometryShader
                                                    : nullptr;
            bool repeated = (shader != nullptr && !shader->empty()) ||
                            (section == Section::passthrough &&
                             (test.vertexPassthrough || !test.vertexShader.empty())) ||
                            (section == Section::vertex && test.vertexPassthrough);
            if (section == Section::passthrough) {
                test.vertexPassthrough = true;
            }
            if (test.unsupported.empty() && section == Section::other) {
                test.unsupported = "section " + std::string(header);
            } else if (test.unsupported.empty() && repeated) {
                test.unsupported = "several shaders of one stage";
            }
            continue;
        }
        if (isShaderSection(section)) {
            shader->append(line);
            shader->push_back('\n');
            continue;
        }
        std::string_view content = trimmed(line);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        // A comment may follow a command, as may a stray semicolon.
        size_t comment = content.find(" #");
        if (comment == std::string_view::npos) {
            comment = content.find("\t#");
        }
        content = trimmed(content.substr(0, comment));
        if (content.ends_with(';')) {
            content = trimmed(content.substr(0, content.size() - 1));
        }
        TestLine entry{number, std::string(content)};
        if (section == Section::require) {
            test.requirements.push_back(entry);
        } else if (section == Section::vertexData) {
            test.vertexData.push_back(entry);
        } else if (section == Section::test) {
            test.commands.push_back(entry);
        }
    }
    return test;
}

namespace {

bool hasVersionLine(std::string_view text) {
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.starts_with("#")) {
            line.remove_prefix(1);
            if (trimmed(line).starts_with("version")) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

void addMissingVersions(ShaderTest& test, int glslVersion) {
    if (glslVersion <= 110) {
        return;
    }
    for (std::string* text : {&test.vertexShader, &test.geometryShader, &test.pixelShader}) {
        if (!text->empty() && !hasVersionLine(*text)) {
            text->insert(0, "#version " + std::to_string(glslVersion) + "\n");
        }
    }
}

std::string passthroughVertexShader(int glslVersion) {
    return "#version " + std::to_string(glslVersion) + "\n" +
           (glslVersion >= 130 ? "in" : "attribute") +
           " vec4 piglit_vertex;\n"
           "void main() { gl_Position = piglit_vertex; }\n";
}

}  // namespace gl_runner
