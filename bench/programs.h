// The programs both benchmark files run: from a plain copy to three library
// calls a pixel, with and without tables, and rand().
#pragma once

namespace vexlor::bench {

struct BenchProgram {
  const char* name;
  const char* text;
};

inline constexpr BenchProgram kBenchPrograms[] = {
    {"identity", "rd=rs;gd=gs;bd=bs;"},
    {"scale", "rd=rs*0.5;gd=gs;bd=bs;"},
    // One sin per channel of one input channel each (tables), and of two.
    {"sin", "rd=sin(rs*3);gd=sin(gs*3);bd=sin(bs*3);"},
    {"sin_mixed", "rd=sin(rs+gs);gd=sin(gs+bs);bd=sin(bs+rs);"},
    // Of all three channels: no table applies, every pixel calls sin three times.
    {"sin_all", "rd=sin(rs+gs+bs);gd=sin(gs*2+rs+bs);bd=sin(bs*3+rs+gs);"},
    {"ten_statements",
     "l=0.3*rs+0.59*gs+0.11*bs;c=l-0.5;k=c*c*4;s=max(rs,gs,bs);m=min(rs,gs,bs);"
     "d=s-m;t=if(d>0.1,l,1-l);rd=t*rs+k;gd=t*gs+d;bd=med(rs,gs,bs)*t;"},
    {"rand", "n=rand()*0.2-0.1;rd=rs+n;gd=gs+n;bd=bs+n;"},
};

}  // namespace vexlor::bench
