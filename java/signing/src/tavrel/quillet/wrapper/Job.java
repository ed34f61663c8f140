package tavrel.quillet.wrapper;

import java.util.LinkedHashMap;
import java.util.Map;

/** The signing job read from standard input: one flat JSON object of strings. */
final class Job {
    private final String text;
    private int at;

    private Job(String text) {
        this.text = text;
    }

    static Map<String, String> parse(String text) {
        return new Job(text).object();
    }

    private Map<String, String> object() {
        Map<String, String> members = new LinkedHashMap<>();
        skipBlanks();
        expect('{');
        skipBlanks();
        if (peek() == '}') {
            at++;
            return members;
        }
        for (;;) {
            skipBlanks();
            String key = string();
            skipBlanks();
            expect(':');
            skipBlanks();
            members.put(key, string());
            skipBlanks();
            char c = next();
            if (c == '}') {
                return members;
            }
            if (c != ',') {
                throw new IllegalArgumentException("se esperaba ',' o '}' en la posición " + (at - 1));
            }
        }
    }

    private String string() {
        expect('"');
        StringBuilder out = new StringBuilder();
        for (;;) {
            char c = next();
            if (c == '"') {
                return out.toString();
            }
            if (c != '\\') {
                out.append(c);
                continue;
            }
            char e = next();
            switch (e) {
                case '"': case '\\': case '/': out.append(e); break;
                case 'b': out.append('\b'); break;
                case 'f': out.append('\f'); break;
                case 'n': out.append('\n'); break;
                case 'r': out.append('\r'); break;
                case 't': out.append('\t'); break;
                case 'u':
                    if (at + 4 > text.length()) {
                        throw new IllegalArgumentException("escape \\u incompleto");
                    }
                    out.append((char) Integer.parseInt(text.substring(at, at + 4), 16));
                    at += 4;
                    break;
                default: throw new IllegalArgumentException("escape no válido: \\" + e);
            }
        }
    }

    private void skipBlanks() {
        while (at < text.length() && Character.isWhitespace(text.charAt(at))) {
            at++;
        }
    }

    private char peek() {
        if (at >= text.length()) {
            throw new IllegalArgumentException("el trabajo JSON termina antes de tiempo");
        }
        return text.charAt(at);
    }

    private char next() {
        char c = peek();
        at++;
        return c;
    }

    private void expect(char c) {
        if (next() != c) {
            throw new IllegalArgumentException("se esperaba '" + c + "' en la posición " + (at - 1));
        }
    }
}
