// Reading a replay file as it comes (docs/replay.md): its bytes, decompressed when they are gzip,
// cut into lines. A gzip file may hold many members one after the other, and a browser's
// DecompressionStream takes one: they are cut apart here, by the length the arena's members name
// in their header, or, for a member that names none, by walking its deflate data as it comes to
// find where it ends. Nothing here touches the page.
"use strict";
var Nimbus = window.Nimbus || (window.Nimbus = {});

(function () {
  // The longest line of a replay (format version 2), without its line feed: the arena's --verify
  // refuses a longer one too (kMaxReplayLineBytes in arena/limits.hpp).
  Nimbus.MAX_REPLAY_LINE_BYTES = 1024 * 1024;

  const EMPTY = new Uint8Array(0);

  function joined(a, b) {
    if (!a.length) return b;
    const both = new Uint8Array(a.length + b.length);
    both.set(a);
    both.set(b, a.length);
    return both;
  }

  // ---- where a gzip member ends ------------------------------------------------------------------
  // The whole length of the gzip member at the start of bytes, named in its header's "NL" extra
  // field; 0 when more bytes are needed to tell, -1 when it names none.
  function memberLength(bytes) {
    if (bytes.length < 12) return 0;
    if (bytes[0] !== 0x1f || bytes[1] !== 0x8b || (bytes[3] & 4) === 0) return -1;
    const end = 12 + (bytes[10] | (bytes[11] << 8));
    if (bytes.length < end) return 0;
    for (let at = 12; at + 4 <= end; at += 4 + (bytes[at + 2] | (bytes[at + 3] << 8))) {
      if (bytes[at] === 0x4e && bytes[at + 1] === 0x4c && bytes[at + 2] === 4 && at + 8 <= end) {
        const length = (bytes[at + 4] | (bytes[at + 5] << 8) | (bytes[at + 6] << 16)) + bytes[at + 7] * 0x1000000;
        return length > end ? length : -1;
      }
    }
    return -1;
  }

  const MORE = new Error("more bytes needed");  // thrown within a step of the walk below
  const CODE_LENGTH_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15];
  const LENGTH_EXTRA = [0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0];
  const DISTANCE_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13];

  function damaged(why) {
    return new Error(`damaged deflate data (${why})`);
  }

  const FAST_BITS = 9;
  const FAST_MASK = (1 << FAST_BITS) - 1;

  // A canonical Huffman code from its code lengths: the number of codes of each length, the
  // symbols in code order, and, by the next FAST_BITS bits, the symbol of a code no longer than
  // that (symbol << 4 | length; 0 for a longer code).
  function huffman(lengths) {
    const count = new Uint16Array(16);
    for (const n of lengths) count[n] += 1;
    const offset = new Uint16Array(16);
    const next = new Uint16Array(16);  // the next code of each length
    let left = 1;
    for (let n = 1; n < 16; ++n) {
      left = (left << 1) - count[n];
      if (left < 0) throw damaged("an over-subscribed code");
      if (n < 15) offset[n + 1] = offset[n] + count[n];
      if (n > 1) next[n] = (next[n - 1] + count[n - 1]) << 1;
    }
    const symbol = new Uint16Array(lengths.length);
    const fast = new Uint16Array(1 << FAST_BITS);
    lengths.forEach((n, s) => {
      if (!n) return;
      symbol[offset[n]++] = s;
      const code = next[n]++;
      if (n > FAST_BITS) return;
      let reversed = 0;  // the code's first bit lowest, as it comes
      for (let i = 0; i < n; ++i) reversed |= ((code >> i) & 1) << (n - 1 - i);
      for (let k = reversed; k < fast.length; k += 1 << n) fast[k] = (s << 4) | n;
    });
    return { count, symbol, fast };
  }

  // The symbol of the code at the start of bits (its first bit lowest), as symbol << 4 | length;
  // -1 when no code of the table starts them.
  function codeAt(code, bits) {
    const entry = code.fast[bits & FAST_MASK];
    if (entry !== 0) return entry;
    let c = 0;
    let first = 0;
    let index = 0;
    for (let n = 1; n < 16; ++n) {
      c |= (bits >>> (n - 1)) & 1;
      const count = code.count[n];
      if (c - count < first) return (code.symbol[index + c - first] << 4) | n;
      index += count;
      first = (first + count) << 1;
      c <<= 1;
    }
    return -1;
  }

  let fixedCodes = null;

  // Walks one gzip member's bytes as they come, keeping nothing of what they decompress to, to find
  // where its trailer ends. The walk goes step by step (a header, a block's header, a symbol, a
  // trailer); a step the bytes so far end within is taken again from its start with more bytes,
  // so a step sets what comes next (this.step and the rest) only once it has all its bytes.
  class MemberEnd {
    constructor() {
      this.bytes = EMPTY;
      this.pos = 0;       // the next byte of bytes to take
      this.bitBuf = 0;    // bits taken from bytes and not yet used, the next one lowest
      this.bitCount = 0;
      this.mark();
      this.step = this.header;  // a method: true when the member has ended
    }

    // The member's next bytes: how many of them belong to it when it ends among them, else -1.
    // Throws when they are not a gzip member's.
    push(bytes) {
      const left = this.bytes.length - this.pos;  // bytes of an unfinished step
      this.bytes = joined(this.bytes.subarray(this.pos), bytes);
      this.pos = 0;
      try {
        for (;;) {
          this.mark();
          if (this.step()) return this.pos - left;
        }
      } catch (e) {
        if (e !== MORE) throw e;
        this.pos = this.markPos;
        this.bitBuf = this.markBitBuf;
        this.bitCount = this.markBitCount;
        return -1;
      }
    }

    // Where push() takes the walk up again when the bytes so far end within the next step.
    mark() {
      this.markPos = this.pos;
      this.markBitBuf = this.bitBuf;
      this.markBitCount = this.bitCount;
    }

    bits(n) {
      while (this.bitCount < n) {
        if (this.pos >= this.bytes.length) throw MORE;
        this.bitBuf |= this.bytes[this.pos++] << this.bitCount;
        this.bitCount += 8;
      }
      const v = this.bitBuf & ((1 << n) - 1);
      this.bitBuf >>>= n;
      this.bitCount -= n;
      return v;
    }

    // Where n whole bytes start in this.bytes (the bits left of a byte are dropped first).
    take(n) {
      this.pos -= this.bitCount >> 3;  // whole bytes taken ahead
      this.bitBuf = 0;
      this.bitCount = 0;
      if (this.bytes.length - this.pos < n) throw MORE;
      this.pos += n;
      return this.pos - n;
    }

    // One symbol of a Huffman code.
    decode(code) {
      while (this.bitCount < 15 && this.pos < this.bytes.length) {
        this.bitBuf |= this.bytes[this.pos++] << this.bitCount;
        this.bitCount += 8;
      }
      const entry = codeAt(code, this.bitBuf);
      const n = entry & 15;
      if (entry < 0 || n > this.bitCount) {
        if (this.bitCount < 15) throw MORE;
        throw damaged("a code beyond its table");
      }
      this.bitBuf >>>= n;
      this.bitCount -= n;
      return entry >> 4;
    }

    header() {
      const at = this.take(10);
      const b = this.bytes;
      if (b[at] !== 0x1f || b[at + 1] !== 0x8b || b[at + 2] !== 8 || (b[at + 3] & 0xe0) !== 0) {
        throw new Error("not a gzip member");
      }
      this.flags = b[at + 3];
      this.step = this.extraField;
    }

    extraField() {
      if (this.flags & 4) {
        const at = this.take(2);
        this.skipping(this.bytes[at] | (this.bytes[at + 1] << 8), this.fileName);
      } else {
        this.step = this.fileName;
      }
    }

    fileName() {
      if (this.flags & 8) this.toZero();
      this.step = this.comment;
    }

    comment() {
      if (this.flags & 16) this.toZero();
      this.step = this.headerCrc;
    }

    headerCrc() {
      if (this.flags & 2) this.take(2);
      this.step = this.block;
    }

    // Past the next zero byte, keeping what is past when it is not among the bytes so far.
    toZero() {
      for (;;) {
        if (this.pos >= this.bytes.length) {
          this.mark();
          throw MORE;
        }
        if (this.bytes[this.pos++] === 0) return;
      }
    }

    // Skips n bytes, then goes on with next.
    skipping(n, next) {
      this.skip = n;
      this.after = next;
      this.step = this.skipBytes;
    }

    skipBytes() {
      const n = Math.min(this.skip, this.bytes.length - this.pos);
      this.pos += n;
      this.skip -= n;
      if (this.skip > 0) {
        this.mark();
        throw MORE;
      }
      this.step = this.after;
    }

    block() {
      const head = this.bits(3);
      this.last = (head & 1) === 1;
      const after = this.last ? this.trailer : this.block;
      switch (head >> 1) {
        case 0: {
          const at = this.take(4);
          const b = this.bytes;
          const length = b[at] | (b[at + 1] << 8);
          if ((length ^ (b[at + 2] | (b[at + 3] << 8))) !== 0xffff) throw damaged("a stored block's length");
          this.skipping(length, after);
          return;
        }
        case 1:
          if (!fixedCodes) {
            const lengths = new Uint8Array(288).fill(8, 0, 144).fill(9, 144, 256).fill(7, 256, 280).fill(8, 280);
            fixedCodes = { literal: huffman(lengths), distance: huffman(new Uint8Array(30).fill(5)) };
          }
          this.codes = fixedCodes;
          break;
        case 2:
          this.codes = this.dynamicCodes();
          break;
        default:
          throw damaged("a block of type 3");
      }
      this.step = this.symbols;
    }

    dynamicCodes() {
      const literals = this.bits(5) + 257;
      const distances = this.bits(5) + 1;
      const codeLengths = this.bits(4) + 4;
      if (literals > 286 || distances > 30) throw damaged("too many codes");
      const lengthsOfLengths = new Uint8Array(19);
      for (let i = 0; i < codeLengths; ++i) lengthsOfLengths[CODE_LENGTH_ORDER[i]] = this.bits(3);
      const lengthCode = huffman(lengthsOfLengths);
      const lengths = new Uint8Array(literals + distances);
      for (let i = 0; i < lengths.length;) {
        const s = this.decode(lengthCode);
        if (s < 16) {
          lengths[i++] = s;
          continue;
        }
        if (s === 16 && i === 0) throw damaged("a repeat with nothing before it");
        const value = s === 16 ? lengths[i - 1] : 0;
        const n = s === 16 ? 3 + this.bits(2) : s === 17 ? 3 + this.bits(3) : 11 + this.bits(7);
        if (i + n > lengths.length) throw damaged("too many code lengths");
        lengths.fill(value, i, i + n);
        i += n;
      }
      if (lengths[256] === 0) throw damaged("no end of block");
      return { literal: huffman(lengths.subarray(0, literals)), distance: huffman(lengths.subarray(literals)) };
    }

    // The symbols of a block, to its end.
    symbols() {
      if (!this.symbolsAhead()) {
        const { literal, distance } = this.codes;
        for (;;) {
          this.mark();
          const s = this.decode(literal);
          if (s < 256) continue;
          if (s === 256) break;
          if (s > 285) throw damaged("a length code beyond 285");
          this.bits(LENGTH_EXTRA[s - 257]);
          const d = this.decode(distance);
          if (d > 29) throw damaged("a distance code beyond 29");
          this.bits(DISTANCE_EXTRA[d]);
        }
      }
      this.step = this.last ? this.trailer : this.block;
    }

    // The symbols of a block while 8 bytes or more are left, enough for any symbol with its
    // length and distance: no look for the end of the bytes, no mark. True at the block's end.
    symbolsAhead() {
      const { literal, distance } = this.codes;
      const literalFast = literal.fast;
      const bytes = this.bytes;
      const stop = bytes.length - 8;
      let pos = this.pos;
      let buf = this.bitBuf;
      let have = this.bitCount;
      let ended = false;
      while (pos <= stop) {
        while (have < 16) { buf |= bytes[pos++] << have; have += 8; }
        let e = literalFast[buf & FAST_MASK];
        if (e === 0) e = codeAt(literal, buf);
        if (e < 0) throw damaged("a code beyond its table");
        buf >>>= e & 15;
        have -= e & 15;
        const s = e >> 4;
        if (s < 256) continue;
        if (s === 256) {
          ended = true;
          break;
        }
        if (s > 285) throw damaged("a length code beyond 285");
        while (have < 16) { buf |= bytes[pos++] << have; have += 8; }
        buf >>>= LENGTH_EXTRA[s - 257];
        have -= LENGTH_EXTRA[s - 257];
        while (have < 16) { buf |= bytes[pos++] << have; have += 8; }
        const d = codeAt(distance, buf);
        if (d < 0 || d >> 4 > 29) throw damaged("a distance code beyond 29");
        buf >>>= d & 15;
        have -= d & 15;
        while (have < 16) { buf |= bytes[pos++] << have; have += 8; }
        buf >>>= DISTANCE_EXTRA[d >> 4];
        have -= DISTANCE_EXTRA[d >> 4];
      }
      this.pos = pos;
      this.bitBuf = buf;
      this.bitCount = have;
      return ended;
    }

    trailer() {
      this.take(8);
      return true;
    }
  }

  // ---- the file's bytes --------------------------------------------------------------------------
  // The bytes of a stream as it comes ({next, cancel}), each chunk counted.
  function rawBytes(stream, counted) {
    const reader = stream.getReader();
    return {
      async next() {
        const r = await reader.read();
        if (!r.done) counted(r.value.length);
        return r;
      },
      cancel() {
        reader.cancel().catch(() => {});
      },
    };
  }

  // The chunks of a stream, till its end; cancelled when the reading stops before.
  async function* chunksOf(stream) {
    const reader = stream.getReader();
    try {
      for (;;) {
        const r = await reader.read();
        if (r.done) return;
        yield r.value;
      }
    } finally {
      reader.cancel().catch(() => {});
    }
  }

  // A gzip member's decompressed bytes as they are read. feed(write) hands the member's bytes to
  // write() and resolves once they are all in; they go on FEED_BYTES at a time, each piece
  // decompressed when its output is wanted (a piece of deflate data may hold a thousand times its
  // size). A cut or damaged member gives what it holds, then its error.
  const FEED_BYTES = 16 * 1024;
  async function* inflated(feed) {
    const stream = new DecompressionStream("gzip");
    const writer = stream.writable.getWriter();
    const write = async (bytes) => {
      for (let at = 0; at < bytes.length; at += FEED_BYTES) await writer.write(bytes.subarray(at, at + FEED_BYTES));
    };
    // A failed write: the decompression's own error comes below.
    feed(write).then(() => writer.close(), (e) => writer.abort(e)).catch(() => {});
    yield* chunksOf(stream.readable);
  }

  // The decompressed bytes of a gzip file, member after member. raw: the file's bytes after the
  // first chunk. A member that names its length is decompressed once it is in whole; one that
  // names none as it comes, its bytes walked to find where it ends.
  async function* gunzip(raw, first) {
    let held = first;  // bytes read and not yet given to a member
    let ended = false;
    const more = async () => {
      const r = await raw.next();
      if (r.done) ended = true; else held = joined(held, r.value);
    };
    while (held.length || !ended) {
      const length = memberLength(held);
      if (length === 0 && !ended) {
        await more();
      } else if (length > 0) {
        while (held.length < length && !ended) await more();
        const member = held.subarray(0, length);
        held = held.subarray(member.length);
        yield* inflated((write) => write(member));
      } else {
        let bytes = held;
        held = EMPTY;
        // The member's bytes into the decompression, the bytes after it back into held.
        yield* inflated(async (write) => {
          let walk = new MemberEnd();
          for (;;) {
            let end = -1;
            try {
              if (walk) end = walk.push(bytes);
            } catch (e) {
              walk = null;  // what is wrong with it is for the decompression to say
            }
            if (end >= 0) {
              held = bytes.subarray(end);
              bytes = bytes.subarray(0, end);
            }
            await write(bytes);
            if (end >= 0) return;
            const r = await raw.next();
            if (r.done) {
              ended = true;
              return;
            }
            bytes = r.value;
          }
        });
      }
    }
  }

  // The bytes of a file as it comes, decompressed when it is gzip (told by its first two bytes).
  async function* fileBytes(stream, counted) {
    const raw = rawBytes(stream, counted);
    try {
      const first = await raw.next();
      if (first.done) return;
      if (first.value.length >= 2 && first.value[0] === 0x1f && first.value[1] === 0x8b) {
        yield* gunzip(raw, first.value);
        return;
      }
      for (let r = first; !r.done; r = await raw.next()) yield r.value;
    } finally {
      raw.cancel();
    }
  }

  // ---- lines -------------------------------------------------------------------------------------
  // A file's lines as they come. stream: the file's bytes (a File's or a download's); counted(n)
  // hears of every n bytes read from it. Each byte is looked at once, however long the line.
  Nimbus.ReplayReader = class {
    constructor(stream, counted) {
      this.source = fileBytes(stream, counted);
      this.pieces = [];     // the start of the next line: bytes read, no line feed among them
      this.held = 0;        // their length
      this.chunk = EMPTY;   // the bytes read last, not yet looked at from this.at on
      this.at = 0;
      this.decoder = new TextDecoder();  // drops a byte-order mark at the file's start only
      this.laterDecoder = new TextDecoder("utf-8", { ignoreBOM: true });
      this.ended = false;   // the whole file has been read
    }

    // The next line's text, without its line feed; null when no line ends within maxBytes bytes
    // or before the end of the file (.ended), whose bytes are then left unread. Throws when the
    // file cannot be read on (a damaged gzip member: the error says why).
    async line(maxBytes) {
      for (;;) {
        const feed = this.chunk.indexOf(10, this.at);
        if (feed >= 0) {
          if (this.held + feed - this.at > maxBytes) return null;
          const bytes = this.take(feed);
          this.at = feed + 1;
          const text = this.decoder.decode(bytes);
          this.decoder = this.laterDecoder;
          return text;
        }
        this.keep();
        if (this.held > maxBytes) return null;
        const r = await this.source.next();
        if (r.done) {
          this.ended = true;
          return null;
        }
        this.chunk = r.value;
        this.at = 0;
      }
    }

    // All the text not yet read, to the end of the file or to the first bytes that cannot be read
    // (a file read whole is judged by its text: a cut one by what it lacks).
    async rest() {
      this.keep();
      const text = this.pieces.map((p) => this.decoder.decode(p, { stream: true }));
      this.pieces = [];
      this.held = 0;
      try {
        for (let r = await this.source.next(); !r.done; r = await this.source.next()) {
          text.push(this.decoder.decode(r.value, { stream: true }));
        }
      } catch (e) {
        // judged by the text
      }
      this.ended = true;
      text.push(this.decoder.decode());
      return text.join("");
    }

    // Stops reading, and decompressing, the file.
    cancel() {
      this.source.return().catch(() => {});
    }

    // The rest of the chunk into pieces.
    keep() {
      if (this.at < this.chunk.length) {
        this.pieces.push(this.chunk.subarray(this.at));
        this.held += this.chunk.length - this.at;
      }
      this.chunk = EMPTY;
      this.at = 0;
    }

    // The pieces and the chunk up to end, as one array; the pieces are taken.
    take(end) {
      const tail = this.chunk.subarray(this.at, end);
      if (!this.pieces.length) return tail;
      const line = new Uint8Array(this.held + tail.length);
      let k = 0;
      for (const p of this.pieces) {
        line.set(p, k);
        k += p.length;
      }
      line.set(tail, k);
      this.pieces = [];
      this.held = 0;
      return line;
    }
  };
})();
