// Kelvor 58 pedal, seen from above on a wooden table. POV-Ray 3.7.
// 1 unit = 1 pixel of the 704x768 picture on the enclosure's top face (plane z=0).
// World x = px - 352, y = 384 - py; height above the top face is -z (toward the camera).
// Set from the command line (Declare=): KnobAngle (degrees, clockwise from straight up),
// LedOn (0/1), SwitchDown (0/1). Maps (wood, wear, decal, badge) come from maps.py.
#version 3.7;

// box from corner A to corner B with all edges rounded to radius Rr (needs no include files)
#macro RoundBox(A, B, Rr)
  #local L = <min(A.x,B.x), min(A.y,B.y), min(A.z,B.z)> + Rr;
  #local U = <max(A.x,B.x), max(A.y,B.y), max(A.z,B.z)> - Rr;
  merge {
    box { L - <Rr,0,0>, U + <Rr,0,0> }
    box { L - <0,Rr,0>, U + <0,Rr,0> }
    box { L - <0,0,Rr>, U + <0,0,Rr> }
    #for (I, 0, 7)
      #local Cn = <(mod(I,2)=0 ? L.x : U.x), (mod(div(I,2),2)=0 ? L.y : U.y), (div(I,4)=0 ? L.z : U.z)>;
      sphere { Cn, Rr }
    #end
    #for (I, 0, 3)
      #local P1 = (mod(I,2)=0 ? L.y : U.y); #local P2 = (div(I,2)=0 ? L.z : U.z);
      cylinder { <L.x,P1,P2>, <U.x,P1,P2>, Rr }
      #local P1 = (mod(I,2)=0 ? L.x : U.x);
      cylinder { <P1,L.y,P2>, <P1,U.y,P2>, Rr }
      #local P2 = (div(I,2)=0 ? L.y : U.y);
      cylinder { <P1,P2,L.z>, <P1,P2,U.z>, Rr }
    #end
  }
#end

#ifndef (KnobAngle)  #declare KnobAngle  = 0; #end
#ifndef (LedOn)      #declare LedOn      = 0; #end
#ifndef (SwitchDown) #declare SwitchDown = 0; #end

global_settings { assumed_gamma 1.0 max_trace_level 8 }

#declare CamD = 2200;
camera { perspective location <0,0,-CamD> direction <0,0,CamD> right x*704 up y*768 }

// ---- lights: soft key from upper-left, cool fill, small strip "softboxes" for chrome
global_settings { ambient_light rgb 0.6 }
light_source { <-900, 1100, -2200> rgb <1.0,0.96,0.9>*1.15
  area_light x*400, y*400, 6, 6 adaptive 1 circular orient }
light_source { <1400, -300, -1800> rgb <0.75,0.8,0.95>*0.25 shadowless }
#declare Softbox = box { <-1,-1,0>,<1,1,1> texture { pigment { rgb 1 } finish { emission 3 diffuse 0 } } no_image no_shadow }
object { Softbox scale <260,60,1> rotate z*-35 translate <-500, 650, -1600> }
object { Softbox scale <40,400,1> translate < 700, 100, -1400> }
object { Softbox scale <200,30,1> translate < 100, -700, -1500> }
// ceiling seen only in reflections: grey room, bright window upper-left, dark camera above centre
plane { z, -2600 texture { pigment { spherical color_map { [0 rgb 0.22] [0.4 rgb 0.5] [0.8 rgb 1.1] [1 rgb 1.5] } scale 1300 translate <-900,900,-2600> }
  finish { emission 1 diffuse 0 } } no_image no_shadow }
disc { <0,-40,-2590>, z, 420 texture { pigment { spherical color_map { [0 rgb 0.25] [0.35 rgb 0.02] [1 rgb 0.015] } scale 420 translate <0,-40,-2590> } finish { emission 1 diffuse 0 } } no_image no_shadow }
sky_sphere { pigment { gradient y color_map { [0 rgb 0.01] [0.6 rgb 0.03] [1 rgb 0.09] } } }

// ---- dimensions (image px)
#declare EX0 = 176; #declare EX1 = 528; #declare EY0 = 106; #declare EY1 = 742;
#declare BoxH = 150; #declare BoxR = 12;
#macro P(px,py) <px-352, 384-py, 0> #end

// ---- maps
#declare MapXf = transform { scale <704,768,1> translate <-352,-384,0> }

// ---- wood table (z = BoxH)
plane { -z, -BoxH
  texture {
    pigment { image_map { png "wood.png" interpolate 2 } transform MapXf }
    normal { bumps 0.10 scale <60,0.8,1> }
    finish { ambient 0.02 diffuse 0.85 specular 0.05 roughness 0.02 }
  }
}

// ---- enclosure: orange paint with worn edges, printing decal on top
#declare T_Decal = texture {
  pigment { image_map { png "decal.png" interpolate 2 } transform MapXf }
  finish { ambient 0 diffuse 0.7 specular 0 }
}
#declare T_Paint = texture {
  pigment { rgb <0.80,0.165,0.010> }
  normal { bumps 0.05 scale 3 }   // orange peel; granite here streaks the rounded edges
  finish { ambient 0.06 diffuse 0.72 specular 0.3 roughness 0.02 reflection { 0.02 } }
}
#declare T_Alu = texture {
  pigment { granite color_map { [0 rgb 0.45] [1 rgb 0.68] } scale 4 }
  normal { bumps 0.25 scale <3,0.3,1> }
  finish { diffuse 0.5 specular 0.6 roughness 0.01 metallic reflection { 0.2 metallic } }
}
object { RoundBox(P(EX0,EY1)+<0,0,-1>, P(EX1,EY0)+<0,0,BoxH>, BoxR)
  texture {
    image_pattern { png "wear.png" interpolate 2 } transform MapXf
    texture_map { [0.0 T_Paint] [0.35 T_Paint] [0.55 T_Alu] [1.0 T_Alu] }
  }
  translate z*1   // top face at z=0
}
// printing + grime as a transparent decal sheet just above the top face
polygon { 5, <-352,-384>, <352,-384>, <352,384>, <-352,384>, <-352,-384>
  texture { T_Decal } translate z*-0.2 no_shadow }

// ---- jacks + plugs + cables (jack axis at py=222, mid-height of the box)
#declare JackY = 384-222; #declare JackZ = 70;
#declare T_Chrome = texture { pigment { rgb 0.8 }
  finish { ambient 0 diffuse 0.03 specular 1.2 roughness 0.0015 metallic reflection { 0.85 metallic } } }
#declare T_BlackRubber = texture { pigment { rgb 0.018 } normal { bumps 0.15 scale 2 }
  finish { diffuse 0.6 specular 0.25 roughness 0.03 } }
#declare T_Nickel = texture { pigment { rgb <0.7,0.68,0.64> } normal { bumps 0.05 scale <5,0.2,0.2> }
  finish { diffuse 0.35 specular 0.6 roughness 0.008 metallic reflection { 0.3 metallic } } }
#macro Plug(Side)   // Side=+1 right, -1 left; built along +x then mirrored
  union {
    cylinder { <0,0,0>, <8,0,0>, 15 texture { T_Nickel } }                  // jack nut
    cylinder { <8,0,0>, <26,0,0>, 11 texture { T_Nickel } }                 // plug sleeve
    cylinder { <26,0,0>, <92,0,0>, 16 texture { T_BlackRubber } }          // grip
    torus { 14.5, 2 rotate z*90 translate x*28 texture { T_BlackRubber } }
    torus { 14.5, 2 rotate z*90 translate x*90 texture { T_BlackRubber } }
    cone { <92,0,0>, 14, <122,0,0>, 7.5 texture { T_BlackRubber } }        // strain relief
    sphere_sweep { b_spline 7,
      <100,0,0>, 6.5, <118,0,0>, 6.5, <140,-4*Side,14>, 6.5,
      <165,-30*Side,50>, 6.5, <185,-95*Side,72>, 6.5, <200,-200*Side,74>, 6.5, <210,-320*Side,74>, 6.5
      texture { T_BlackRubber } }
    #if (Side < 0) scale <-1,1,1> #end
    translate <(Side>0 ? EX1-352 : EX0-352), JackY, JackZ>
  }
#end
Plug(1)
Plug(-1)

// ---- knob (centre px 352,248)
#declare KnobC = P(352,248);
#declare T_KnobBlack = texture { pigment { rgb 0.008 }
  finish { ambient 0.02 diffuse 0.5 specular 0.5 roughness 0.008 reflection { 0.035 } } }
#declare T_KnobSide = texture { pigment { rgb 0.012 }
  normal { function { abs(sin(atan2(y,x)*30)) } 1.2 }
  finish { ambient 0.02 diffuse 0.5 specular 0.45 roughness 0.01 reflection { 0.04 } } }
#declare T_White = texture { pigment { rgb 0.92 } finish { diffuse 0.9 specular 0.2 roughness 0.03 } }
union {
  // nut and washer below the knob (barely visible)
  cylinder { <0,0,0>, <0,0,-3>, 56 texture { T_Nickel } }
  // skirt
  cone { <0,0,-3>, 58, <0,0,-14>, 56 texture { T_KnobBlack } }
  // body with knurled sides
  cone { <0,0,-14>, 50, <0,0,-62>, 46 texture { T_KnobSide } }
  // rounded top edge
  torus { 42, 5 rotate x*90 translate z*-62 texture { T_KnobBlack } }
  cylinder { <0,0,-62>, <0,0,-67>, 42 texture { T_KnobBlack } }
  // pointer: white line on top and on the skirt
  box { <-2.2, 6, -67.3>, <2.2, 40, -66> texture { T_White } }
  box { <-2.6, 50, -14.2>, <2.6, 58.4, -3> texture { T_White } }
  rotate -z*KnobAngle
  translate KnobC
}

// ---- LED (centre px 352,488)
#declare LedC = P(352,488);
union {
  difference {
    cylinder { <0,0,0>, <0,0,-5>, 15 }
    cylinder { <0,0,1>, <0,0,-6>, 10 }
    texture { T_KnobBlack }
  }
  torus { 12.5, 2.5 rotate x*90 translate z*-5 texture { T_KnobBlack } }
  #if (LedOn)
    sphere { 0, 9.5 scale <1,1,0.9> translate z*-3
      texture { pigment { rgb <1,0.08,0.04> } finish { emission <1.6,0.25,0.15> diffuse 0.2 specular 0.8 roughness 0.003 } } }
    light_source { <0,0,-16> rgb <1,0.12,0.05>*2.2 fade_distance 8 fade_power 2 }
  #else
    sphere { 0, 9.5 scale <1,1,0.9> translate z*-3
      texture { pigment { rgbf <0.35,0.02,0.02,0.5> } finish { diffuse 0.4 specular 0.9 roughness 0.002 reflection { 0.08 } } }
      interior { ior 1.5 } }
  #end
  translate LedC
}

// ---- maker's badge: a raised enamel plate with embossed silver letters
#declare BX0 = 272; #declare BY0 = 700; #declare BX1 = 432; #declare BY1 = 730;
#declare BadgeXf = transform { scale <BX1-BX0, BY1-BY0, 1> translate P(BX0, BY1) }
union {
  object { RoundBox(P(BX0,BY1), P(BX1,BY0)+<0,0,-2.4>, 1.0)
    texture {
      pigment { image_map { png "badge.png" interpolate 2 } transform BadgeXf }
      normal { bump_map { png "badge_h.png" interpolate 2 bump_size -3 } transform BadgeXf }
      finish { ambient 0.02 diffuse 0.6 specular 0.7 roughness 0.006 reflection { 0.06 } }
    }
  }
}

// ---- foot switch (centre px 352,576)
// satin-plated bushing, so the cap's shadow shows on it (mirror chrome would hide it)
#declare T_Satin = texture { pigment { rgb <0.78,0.77,0.75> }
  finish { ambient 0 diffuse 0.35 specular 0.8 roughness 0.006 metallic reflection { 0.35 metallic } } }
// At rest the chrome cap stands 17 px proud of the bushing; pressed it sinks into the bore,
// below the rim, so the rim's shadow falls across it and its cast shadow disappears.
#declare SwC = P(352,576);
#declare SwCapZ = (SwitchDown ? -21 : -44);
#declare SwCapS = (SwitchDown ? 0.93 : 1);   // deeper, so a little smaller to the eye
union {
  // washer
  difference { cylinder { <0,0,0>, <0,0,-3>, 40 } cylinder { <0,0,1>, <0,0,-4>, 22 }
    texture { T_Nickel pigment { rgb <0.42,0.41,0.39> } } }
  // big hex nut
  intersection {
    prism { linear_sweep linear_spline 3, 13, 7,
      <38,0>, <19,32.9>, <-19,32.9>, <-38,0>, <-19,-32.9>, <19,-32.9>, <38,0>
      rotate x*-90 }
    cone { <0,0,-3>, 40, <0,0,-16>, 30 }
    texture { T_Satin normal { bumps 0.05 scale 2 } } rotate z*17 }
  // threaded bushing, hollow at the top
  difference {
    cylinder { <0,0,-3>, <0,0,-27>, 22 }
    cylinder { <0,0,-8>, <0,0,-28>, 20 texture { pigment { rgb 0.03 } finish { diffuse 0.5 specular 0.3 roughness 0.02 } } }
    texture { T_Satin normal { gradient z 0.5 scale 1.6 } }
  }
  torus { 21, 1.4 rotate x*90 translate z*-27 texture { T_Satin } }
  // dark bore floor
  cylinder { <0,0,-8>, <0,0,-8.5>, 20 texture { pigment { rgb 0.01 } finish { diffuse 0.3 } } }
  // actuator cap
  union {
    cylinder { <0,0,0>, <0,0,-14>, 17 }
    torus { 14, 3 rotate x*90 translate z*-14 }
    cylinder { <0,0,-14>, <0,0,-17>, 14 }
    texture { T_Chrome normal { onion 0.25 scale 0.9 } }
    scale <SwCapS, SwCapS, 1> translate z*(SwCapZ+17)
  }
  translate SwC
}
