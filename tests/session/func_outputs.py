# Writes the func_*.pelix session scripts and their expected transcripts;
# the expected numbers are computed here, outside the program, in float32
# as the program stores them.
import math, struct, os
D=os.path.dirname(os.path.abspath(__file__))+'/'
def f32(v): return struct.unpack('f', struct.pack('f', v))[0]
def ff(v, w=12, p=6): return '%*.*f' % (w, p, f32(v))
def di(v, w=0): return '%*d' % (w, int(v))
R=0.017453293; G=57.295785

def write(name, script):
    # script: list of (line, [output lines]); typed input that is no command: (None, text)
    inp=[]; out=[]
    for line, res in script:
        if line is not None:
            inp.append(line)
            out.append('PELIX> ' + line.replace('\x1b',''))
        out.extend(res)
    open(D+name+'.pelix','w').write('\n'.join(inp)+'\n')
    open(D+name+'.out','w').write('\n'.join(out)+'\n')

# --- element-wise functions and the series -------------------------------
b=[1,2,3,4,5,6]
s=[('declare real array x(6)',[]),('declare integer array b(6)',[]),
   ('b = ramp(6, 1)',[]),('ftype "%7i\\n" b',[di(v,7) for v in b]),
   ('x = sqrt(b)',[]),('ftype "%12.6f\\n" x',[ff(math.sqrt(v)) for v in b]),
   ('x = log(b)',[]),('ftype "%12.6f\\n" x',[ff(math.log(v)*0.4342945) for v in b]),
   ('x = alog(b)',[]),('ftype "%12.3f\\n" x',[ff(math.exp(v*2.302585),12,3) for v in b]),
   ('x = sin(b)',[]),('ftype "%12.6f\\n" x',[ff(math.sin(v*R)) for v in b]),
   ('x = atan(b)',[]),('ftype "%12.6f\\n" x',[ff(math.atan(v)*G) for v in b]),
   ('x = sin(6, 0, 30)',[]),('ftype "%12.6f\\n" x',[ff(math.sin(i*30*R)) for i in range(6)]),
   ('x = cos(6, 0, 30)',[]),('ftype "%12.6f\\n" x',[ff(math.sin((90+i*30)*R)) for i in range(6)]),
  ]
write('func_elem', s)

# --- reductions and compress --------------------------------------------
d=[2.5,-1,4,4,0,7.25,3,-2]
n=len(d); sm=sum(d); mean=sm/n
sd=math.sqrt((sum(v*v for v in d)-sm*sm/n)/(n-1))
stats=[n,n,sum(1 for v in d if v!=0),sm,mean,sd,min(d),max(d),d.index(min(d)),d.index(max(d)),0,7]
cum=[]; acc=0
for v in d: acc+=v; cum.append(acc)
s=[('declare real array d(8)',[]),('d = {2.5, -1, 4, 4, 0, 7.25, 3, -2}',[]),
   ('declare real array m(1)',[]),
   ('m = max(d)',[]),('ftype "%12.6f\\n" m',[ff(max(d))]),
   ('m = min(d)',[]),('ftype "%12.6f\\n" m',[ff(min(d))]),
   ('m = sum(d)',[]),('ftype "%12.6f\\n" m',[ff(sm)]),
   ('m = mean(d)',[]),('ftype "%12.6f\\n" m',[ff(mean)]),
   ('m = stdev(d)',[]),('ftype "%12.6f\\n" m',[ff(sd)]),
   ('declare real array c(8)',[]),('c = sum(d)',[]),('ftype "%12.6f\\n" c',[ff(v) for v in cum]),
   ('declare real array sv(12)',[]),('sv = stats(d)',[]),('ftype "%12.6f\\n" sv',[ff(v) for v in stats]),
   ('declare integer array k(5)',[]),('k = {1, 1, 2, 2, 1}',[]),
   ('declare integer array k2(5)',[]),('k2 = compress(k, -2)',[]),('ftype "%7i\\n" k2',[di(v,7) for v in [1,2,1]]),
  ]
write('func_reduce', s)

# --- generators ----------------------------------------------------------
s=[('declare integer array r(10)',[]),
   ('r = ramp(10, 0, 3)',[]),('ftype "%4i\\n" r',[di(v,4) for v in [0,1,2,3,0,1,2,3,0,1]]),
   ('r = ramp(10, 0, 3, 1, 0, 1)',[]),('ftype "%4i\\n" r',[di(v,4) for v in [0,1,2,3,2,1,0,1,2,3]]),
   ('r = ramp(10, 5, -999, 2, 2)',[]),('ftype "%4i\\n" r',[di(v,4) for v in [5,5,7,7,9,9,11,11,13,13]]),
   ('declare real array q(10)',[]),('q = random(10, 5, 10, 2)',[]),
   ('r = integer(q)',[]),('ftype "%d\\n" sum(r)',['45']),
   ('ftype "%d\\n" max(r)',['9']),('ftype "%d\\n" min(r)',['0']),
  ]
write('func_gen', s)

# --- sizes, properties, files -------------------------------------------
os.makedirs(D+'func_props.files', exist_ok=True)
open(D+'func_props.files/present.txt','w').write('eleven byte')
s=[('declare byte solid v(4,3,2)',[]),('declare long array z(3)',[]),
   ('z = size(v)',[]),('ftype "%d\\n" z',['4','3','2']),
   ('ftype "%d\\n" size(v, -3)',['2']),('ftype "%d\\n" size(v, -4)',['1']),
   ('ftype "%d\\n" size(v, 2)',['3']),
   ('ftype "%d\\n" mode(v)',[str((1024<<8)|8)]),('ftype "%d\\n" mode(z, 2)',['32']),
   ('ftype "%d\\n" size("present.txt")',['11']),('ftype "%d\\n" size("absent.txt")',['-1']),
   ('declare integer array e(1)',[]),
   ('e = file("present.txt")',[]),('ftype "%d\\n" e',['1']),
   ('e = file("absent.txt")',[]),('ftype "%d\\n" e',['0']),
   ('declare long array nz(1)',[]),('nz = address(z) != 0',[]),('ftype "%d\\n" nz',['1']),
   ('ftype "%s\\n" name(z)',['z']),
   ('declare real array p(12)',[]),('p = projection(z)',[]),('ftype "%4.1f\\n" p',['%4.1f'%v for v in [1,1,1,0,0,0,0,0,0,0,0,0]]),
   ('declare long array w(1)',[]),('w = window(5)',[]),('ftype "%d\\n" w',['5']),
   ('declare real array h(1)',[]),('h = length(3, 4, 0)',[]),('ftype "%12.6f\\n" h',[ff(5.0)]),
  ]
write('func_props', s)

# --- text functions -----------------------------------------------------
s=[('declare string t',[]),
   ('t = ucase("hello World")',[]),('ftype "%s\\n" t',['HELLO WORLD']),
   ('t = lcase("Hello World")',[]),('ftype "%s\\n" t',['hello world']),
   ('t = pdstr("a(bc)*3d")',[]),('ftype "%s\\n" t',['abcbcbcd']),
   ('t = pdstr("x(a(b)*2)*2")',[]),('ftype "%s\\n" t',['xabbabb']),
   ('t = getfile("/data/run/name.txt", 3)',[]),('ftype "%s\\n" t',['name.txt']),
   ('t = getfile("/data/run/name.txt", 4)',[]),('ftype "%s\\n" t',['/data/run']),
   ('t = getenv("PELIX_BACKEND")',[]),('ftype "%s\\n" t',['headless']),
   ('t = string(t)',[]),('ftype "%s\\n" t',['headless']),
   ('t = name(t)',[]),('ftype "%s\\n" t',['t']),
   ('t = pdstr("\\\\(a\\\\)")',[]),('ftype "%s\\n" t',['(a)']),
  ]
write('func_text', s)

# --- interactive functions answered from the input script --------------
s=[('declare integer array c(1)',[]),
   ('c = getchar(0)',[]),('ftype "%d\\n" c',['1']),
   ('c = getchar(0, 1)',[]),
  ]
inp=[l for l,_ in s]; out=[]
for l,res in s: out.append('PELIX> '+l); out.extend(res)
# the next byte of input is the key: 'q', then the rest of that line is a command
inp.append('qftype "%d\\n" c'); out.append('PELIX> ftype "%d\\n" c'); out.append('113')
inp.append('declare string g'); out.append('PELIX> declare string g')
inp.append('g = gettxt()'); out.append('PELIX> g = gettxt()')
inp.append('hello there'); out.append('hello there')
inp.append('ftype "%s\\n" g'); out.append('PELIX> ftype "%s\\n" g'); out.append('hello there')
inp.append('g = gettxt()'); out.append('PELIX> g = gettxt()')
inp.append('\x1bftype "[%s]\\n" g'); out.append('PELIX> ftype "[%s]\\n" g'); out.append('[]')
open(D+'func_keys.pelix','w').write('\n'.join(inp)+'\n')
open(D+'func_keys.out','w').write('\n'.join(out)+'\n')
