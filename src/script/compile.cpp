// Compiling a scenario into a group's node list: the parse context the
// grammar builds its nodes through, and the error reports of a compilation.
#include "grammar.hpp"

#include "core/exception.h"
#include "core/format.h"
#include "core/report.h"
#include "script/lexer.h"
#include "script/node.h"

#include <array>
#include <memory>

namespace TextScript {

namespace {

constexpr std::u16string_view kMessageOneLetter = u"変数名は１文字にして下さい";
constexpr std::u16string_view kMessageStackOverflow = u"parser stack overflow";

// Bison's result when the stack would grow past its limit.
constexpr int kParseOutOfMemory = 2;

// The most words a statement carries (PJP: left, right, label).
constexpr std::size_t kMaxArguments = 3;

} // namespace

void ParseContext::Keep(std::exception_ptr exception)
{
    if (!m_exception)
        m_exception = std::move(exception);
}

int ParseContext::NextToken(std::u16string*& text)
{
    try {
        int token = m_lexer.Next();
        // A last line without its line break still ends its statement: files
        // saved without a final newline are common.
        if (token == kTokenEnd && !m_atLineStart)
            token = kTokenNewline;
        m_atLineStart = token == kTokenNewline;
        if (token == kTokenWord || token == kTokenText)
            text = new std::u16string(std::move(m_lexer.Text()));
        return token;
    } catch (...) {
        Keep(std::current_exception());
        return kTokenLexerError;
    }
}

bool ParseContext::Build(NodeKind kind, char op, std::initializer_list<std::u16string*> arguments)
{
    // Taking the texts first means they are freed on every way out.
    std::array<std::unique_ptr<std::u16string>, kMaxArguments> texts;
    std::size_t count = 0;
    for (std::u16string* text : arguments) {
        if (count < kMaxArguments)
            texts[count++].reset(text);
        else
            delete text; // no production has more words
    }

    try {
        std::unique_ptr<ScriptStateNode> node(m_group.CreateNode());
        node->m_kind = kind;
        node->m_operator = op;
        for (std::size_t i = 0; i < count; ++i)
            node->AppendArgument(*texts[i]);
        m_group.Append(node.release());
        return true;
    } catch (...) {
        Keep(std::current_exception());
        return false;
    }
}

bool ParseContext::BuildOneLetter(NodeKind kind, std::u16string* word)
{
    if (word->size() != 1) {
        delete word;
        m_parserMessage = kMessageOneLetter;
        return false;
    }
    return Build(kind, 0, {word});
}

void ParseContext::ParserError(const char* message)
{
    // Only the first complaint counts; after a lexer failure the parser's
    // own "syntax error" about the stop token is not worth reporting.
    if (!m_parserMessage.empty() || m_exception)
        return;
    for (const char* c = message; *c; ++c)
        m_parserMessage += static_cast<char16_t>(static_cast<unsigned char>(*c));
}

void ScriptStateGroup::Compile(std::span<const std::uint8_t> source, std::u16string_view fileName)
{
    SetFileName(fileName);
    Reader().Reset(source);

    ScriptLexer lexer(Reader());
    ParseContext context(*this, lexer);
    const int result = kscript_parse(context);

    if (const std::exception_ptr exception = context.Exception()) {
        try {
            std::rethrow_exception(exception);
        } catch (const kestrel::ScriptError2& error) {
            SetLastError(error.Line(), error.Message());
            kestrel::DebugOutput(kestrel::Format(u"%s(%d): Compile Error: %s\n", FileName(), error.Line(),
                error.Message()));
            throw kestrel::ExceptionHandle(FileName(), error.Line(), error.Message());
        }
    }
    if (result != 0) {
        // Bison calls running out of stack "memory exhausted"; our name for it
        // says which memory.
        const std::u16string message =
            result == kParseOutOfMemory ? std::u16string(kMessageStackOverflow) : context.ParserMessage();
        kestrel::DebugOutput(kestrel::Format(u"%s(%d): %s\n", FileName(), -1, message));
        throw kestrel::ExceptionHandle(FileName(), Reader().Line(), message);
    }

    ScriptStateNode* end = CreateNode();
    end->m_kind = kNodeEnd;
    Append(end);

    std::int32_t page = 0;
    for (ScriptStateNode* node = First(); node; node = node->Next()) {
        if (node->m_kind == kNodePage)
            node->m_page = ++page;
    }
}

} // namespace TextScript
