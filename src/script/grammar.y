/* The script grammar. Every statement is one line (or one block of message
 * text) of a fixed shape and becomes at most one node of the group's flat
 * node list; there are no blocks, no nesting and no expressions.
 *
 * The actions stay thin: they hand the token texts to the parse context,
 * which builds and appends the node (compile.cpp). Nothing is thrown through
 * the parser: a failure is recorded in the context and the parse aborted,
 * and the caller reports it once the parser has returned.
 */

%require "3.0"
%define api.prefix {kscript_}
%define api.pure full
%define api.token.prefix {TOK_}
%param {TextScript::ParseContext& context}

/* A run of page-break lines is one page node: after "page" a further
 * NEWLINE, HASH_LINE or SLASH_LINE is shifted onto the same page rather than
 * closing it and starting another. These are the three expected conflicts,
 * and shifting is what they must resolve to. */
%expect 3

%code requires {
#include "script/node.h"

#include <exception>
#include <initializer_list>
#include <string>

namespace TextScript {

class ScriptLexer;

// What the parser works on: the lexer it reads, the group that receives the
// nodes, and the first failure. Token texts travel through the parser as
// heap strings; whoever takes one from the parser frees it.
class ParseContext {
public:
    ParseContext(ScriptStateGroup& group, ScriptLexer& lexer) : m_group(group), m_lexer(lexer) {}

    // The next token for the parser. A WORD or TEXT gets a new heap copy of
    // its text in `text`. When the lexer fails, its exception is kept and a
    // token no production accepts is returned, so the parse ends.
    int NextToken(std::u16string*& text);

    // Builds a node of `kind` with the operator and the texts as arguments,
    // and appends it to the group. Takes the texts and frees them whatever
    // happens. False (with the failure kept) when the parse must end.
    bool Build(NodeKind kind, char op, std::initializer_list<std::u16string*> arguments);
    // The same for RST and RSX, whose word must be exactly one character.
    bool BuildOneLetter(NodeKind kind, std::u16string* word);

    // The parser's own complaint ("syntax error", "memory exhausted").
    void ParserError(const char* message);

    // The exception the lexer or a node builder raised, if any.
    std::exception_ptr Exception() const { return m_exception; }
    // The parser's message when the parse failed without an exception.
    const std::u16string& ParserMessage() const { return m_parserMessage; }

private:
    void Keep(std::exception_ptr exception);

    ScriptStateGroup& m_group;
    ScriptLexer& m_lexer;
    std::exception_ptr m_exception;
    std::u16string m_parserMessage;
    bool m_atLineStart = true; // the start of input counts as one
};

} // namespace TextScript
}

%code {
#include "script/lexer.h"

// The stack starts with room for 200 entries and doubles up to 10000.
// The grammar is left-recursive, so real scripts stay far below either.
// The stacks are taken with malloc, never alloca.
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
#define YYSTACK_USE_ALLOCA 0

using namespace TextScript;

static int kscript_lex(KSCRIPT_STYPE* value, ParseContext& context)
{
    value->text = nullptr;
    return context.NextToken(value->text);
}

static void kscript_error(ParseContext& context, const char* message)
{
    context.ParserError(message);
}

// The lexer and the grammar agree on every token number.
static constexpr bool Same(kscript_tokentype grammar, Token lexer)
{
    return static_cast<int>(grammar) == static_cast<int>(lexer);
}
static_assert(Same(TOK_WORD, kTokenWord) && Same(TOK_TEXT, kTokenText) && Same(TOK_NEWLINE, kTokenNewline));
static_assert(Same(TOK_HASH_LINE, kTokenHashLine) && Same(TOK_SLASH_LINE, kTokenSlashLine));
static_assert(Same(TOK_AT_SIGN, kTokenAtSign) && Same(TOK_GRP, kTokenGrp) && Same(TOK_CHR, kTokenChr));
static_assert(Same(TOK_CHL, kTokenChl) && Same(TOK_LAB, kTokenLab) && Same(TOK_WAV, kTokenWav));
static_assert(Same(TOK_PST, kTokenPst) && Same(TOK_SEL, kTokenSel) && Same(TOK_RMS, kTokenRms));
static_assert(Same(TOK_CLM, kTokenClm) && Same(TOK_LGR, kTokenLgr) && Same(TOK_VOI, kTokenVoi));
static_assert(Same(TOK_FLS, kTokenFls) && Same(TOK_JMP, kTokenJmp) && Same(TOK_RJP, kTokenRjp));
static_assert(Same(TOK_PJP, kTokenPjp) && Same(TOK_RSP, kTokenRsp) && Same(TOK_RST, kTokenRst));
static_assert(Same(TOK_RSX, kTokenRsx) && Same(TOK_SFS, kTokenSfs) && Same(TOK_DON, kTokenDon));
static_assert(Same(TOK_DOF, kTokenDof) && Same(TOK_TOF, kTokenTof) && Same(TOK_IVG, kTokenIvg));
static_assert(Same(TOK_SSL, kTokenSsl) && Same(TOK_END, kTokenEndCommand) && Same(TOK_END1, kTokenEnd1));
static_assert(Same(TOK_END2, kTokenEnd2) && Same(TOK_SED, kTokenSed) && Same(TOK_DGR, kTokenDgr));
static_assert(Same(TOK_S1A, kTokenS1a) && Same(TOK_S1B, kTokenS1b) && Same(TOK_S1M, kTokenS1m));
static_assert(Same(TOK_S2A, kTokenS2a) && Same(TOK_S2B, kTokenS2b) && Same(TOK_S2M, kTokenS2m));
static_assert(Same(TOK_LEXER_ERROR, kTokenLexerError));
}

%union {
    std::u16string* text;
}

%token <text> WORD 258 TEXT 259
%token NEWLINE 260 HASH_LINE 261 SLASH_LINE 262 AT_SIGN 263
%token GRP 264 CHR 265 CHL 266 LAB 267 WAV 268
%token PST 269 SEL 270 RMS 271 CLM 272 LGR 273
%token VOI 274 FLS 275 JMP 276 RJP 277 PJP 278
%token RSP 279 RST 280 RSX 281 SFS 282 DON 283
%token DOF 284 TOF 285 IVG 286 SSL 287 END 288
%token END1 289 END2 290 SED 291 DGR 292 S1A 293
%token S1B 294 S1M 295 S2A 296 S2B 297 S2M 298
%token LEXER_ERROR 299

/* Texts still on the stack when a parse is abandoned. */
%destructor { delete $$; } <text>

%%

script:
    statements
    ;

statements:
    %empty
  | statements statement
    ;

statement:
    command
  | page                            { if (!context.Build(kNodePage, 0, {})) YYABORT; }
    ;

page:
    page_line
  | page page_line
    ;

/* The texts of "＃" and "////" lines are discarded; the lexer keeps them. */
page_line:
    NEWLINE
  | HASH_LINE NEWLINE
  | SLASH_LINE NEWLINE
    ;

command:
    TEXT NEWLINE                    { if (!context.Build(kNodeText, 0, {$1})) YYABORT; }
  | SEL WORD TEXT NEWLINE           { if (!context.Build(kNodeSel, 0, {$2, $3})) YYABORT; }
  | RMS TEXT NEWLINE                { if (!context.Build(kNodeRms, 0, {$2})) YYABORT; }
  | CLM TEXT NEWLINE                { if (!context.Build(kNodeClm, 0, {$2})) YYABORT; }
  | GRP WORD NEWLINE                { if (!context.Build(kNodeGrp, 0, {$2})) YYABORT; }
  | GRP WORD WORD NEWLINE           { if (!context.Build(kNodeGrp, 0, {$2, $3})) YYABORT; }
  | CHR WORD NEWLINE                { if (!context.Build(kNodeChr, 0, {$2})) YYABORT; }
  | CHL WORD NEWLINE                { if (!context.Build(kNodeChl, 0, {$2})) YYABORT; }
  | LGR WORD NEWLINE                { if (!context.Build(kNodeLgr, 0, {$2})) YYABORT; }
  | WAV WORD NEWLINE                { if (!context.Build(kNodeWav, 0, {$2})) YYABORT; }
  | VOI WORD NEWLINE                { if (!context.Build(kNodeVoi, 0, {$2})) YYABORT; }
  | JMP WORD NEWLINE                { if (!context.Build(kNodeJmp, 0, {$2})) YYABORT; }
  | RJP WORD NEWLINE                { if (!context.Build(kNodeRjp, 0, {$2})) YYABORT; }
  | RSP WORD NEWLINE                { if (!context.Build(kNodeRsp, 0, {$2})) YYABORT; }
  | RST WORD NEWLINE                { if (!context.BuildOneLetter(kNodeRst, $2)) YYABORT; }
  | RSX WORD NEWLINE                { if (!context.BuildOneLetter(kNodeRsx, $2)) YYABORT; }
  | SFS WORD NEWLINE                { if (!context.Build(kNodeSfs, 0, {$2})) YYABORT; }
  | DON WORD NEWLINE                { if (!context.Build(kNodeDon, 0, {$2})) YYABORT; }
  | IVG WORD NEWLINE                { if (!context.Build(kNodeIvg, 0, {$2})) YYABORT; }
  | SSL WORD NEWLINE                { if (!context.Build(kNodeSsl, 0, {$2})) YYABORT; }
  | DGR WORD NEWLINE                { if (!context.Build(kNodeDgr, 0, {$2})) YYABORT; }
  | LAB WORD NEWLINE                { if (!context.Build(kNodeLab, 0, {$2})) YYABORT; }
  | FLS WORD NEWLINE                { if (!context.Build(kNodeFls, 0, {$2})) YYABORT; }
  | S1A WORD NEWLINE                { if (!context.Build(kNodeS1a, 0, {$2})) YYABORT; }
  | S1B WORD NEWLINE                { if (!context.Build(kNodeS1b, 0, {$2})) YYABORT; }
  | S2A WORD NEWLINE                { if (!context.Build(kNodeS2a, 0, {$2})) YYABORT; }
  | S2B WORD NEWLINE                { if (!context.Build(kNodeS2b, 0, {$2})) YYABORT; }
  | AT_SIGN WORD NEWLINE            { if (!context.Build(kNodeVoi, 0, {$2})) YYABORT; }
  | DOF NEWLINE                     { if (!context.Build(kNodeDof, 0, {})) YYABORT; }
  | TOF NEWLINE                     { if (!context.Build(kNodeTof, 0, {})) YYABORT; }
  | SED NEWLINE                     { if (!context.Build(kNodeSed, 0, {})) YYABORT; }
  | S1M NEWLINE                     { if (!context.Build(kNodeS1m, 0, {})) YYABORT; }
  | S2M NEWLINE                     { if (!context.Build(kNodeS2m, 0, {})) YYABORT; }
  | END NEWLINE                     { if (!context.Build(kNodeEndCommand, 0, {})) YYABORT; }
  | END WORD NEWLINE                { if (!context.Build(kNodeEndCommand, 0, {$2})) YYABORT; }
  | END1 NEWLINE                    { if (!context.Build(kNodeEnd1, 0, {})) YYABORT; }
  | END1 WORD NEWLINE               { if (!context.Build(kNodeEnd1, 0, {$2})) YYABORT; }
  | END2 NEWLINE                    { if (!context.Build(kNodeEnd2, 0, {})) YYABORT; }
  | END2 WORD NEWLINE               { if (!context.Build(kNodeEnd2, 0, {$2})) YYABORT; }
  | PST WORD '=' WORD NEWLINE       { if (!context.Build(kNodePst, '=', {$2, $4})) YYABORT; }
  | PST WORD '+' WORD NEWLINE       { if (!context.Build(kNodePst, '+', {$2, $4})) YYABORT; }
  | PST WORD '-' WORD NEWLINE       { if (!context.Build(kNodePst, '-', {$2, $4})) YYABORT; }
  | PJP WORD '=' WORD WORD NEWLINE  { if (!context.Build(kNodePjp, '=', {$2, $4, $5})) YYABORT; }
  | PJP WORD '<' WORD WORD NEWLINE  { if (!context.Build(kNodePjp, '<', {$2, $4, $5})) YYABORT; }
  | PJP WORD '>' WORD WORD NEWLINE  { if (!context.Build(kNodePjp, '>', {$2, $4, $5})) YYABORT; }
    ;

%%
